// movj over DDS: what reaches the queue, and what must never reach it.
#include <cmath>

#include "node_harness.h"

namespace node_test {
namespace {

using namespace std::chrono_literals;

class MovjQueueing : public NodeTest {};

const double kMaxVel[6] = {5.201081170943102, 2.0943951023931957, 5.201081170943102,
                           5.201081170943102, 5.201081170943102, 5.201081170943102};

TEST_F(MovjQueueing, SevenValuesQueueOneTrajectoryFromTheMeasuredPoseToTheTarget) {
  motors_[3]->setPosition(0.25);
  interpolator_->readMotorStates();
  runPeer({"movj", "0.1,-0.2,0.3,-0.4,0.5,-0.6,0.5"});
  ASSERT_TRUE(waitForQueueSize(1, 5s));
  auto queue = takeQueue();
  ASSERT_EQ(queue.size(), 1u);
  const auto inputs = trapezoidInputs(queue[0].get());
  ASSERT_EQ(inputs.size(), 6u);
  const double target[6] = {0.1, -0.2, 0.3, -0.4, 0.5, -0.6};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(inputs[i].q0, i == 3 ? 0.25 : 0.0);
    EXPECT_EQ(inputs[i].q1, target[i]);
    EXPECT_EQ(inputs[i].v0, 0.0);
    EXPECT_EQ(inputs[i].v1, 0.0);
    EXPECT_DOUBLE_EQ(inputs[i].vmax, kMaxVel[i] * 0.5);
    EXPECT_DOUBLE_EQ(inputs[i].amax, 0.5);
    EXPECT_DOUBLE_EQ(inputs[i].amin, -0.5);
  }
  const std::string out = capture_->text();
  EXPECT_NE(out.find("I recieve movj:\n0.100000,-0.200000,0.300000,-0.400000,0.500000,-0.600000,"
                     ";velocity % = 0.500000;\n"),
            std::string::npos);
}

TEST_F(MovjQueueing, ScaleAboveOneBecomesHalfAndOneStaysOne) {
  runPeer({"movj", "0.1,0.1,0.1,0.1,0.1,0.1,1.5", "movj", "0.2,0.2,0.2,0.2,0.2,0.2,1.0"});
  ASSERT_TRUE(waitForQueueSize(2, 5s));
  auto queue = takeQueue();
  ASSERT_EQ(queue.size(), 2u);
  const auto reduced = trapezoidInputs(queue[0].get());
  const auto full = trapezoidInputs(queue[1].get());
  ASSERT_EQ(reduced.size(), 6u);
  ASSERT_EQ(full.size(), 6u);
  EXPECT_DOUBLE_EQ(reduced[0].vmax, kMaxVel[0] * 0.5);
  EXPECT_DOUBLE_EQ(reduced[1].amax, 0.5);
  EXPECT_DOUBLE_EQ(full[0].vmax, kMaxVel[0]);
  EXPECT_DOUBLE_EQ(full[1].amin, -1.0);
  const std::string out = capture_->text();
  EXPECT_EQ(countOf(out, "velocity scale > 1.0 error, we reset velocity scale 0.5!"), 1u);
  EXPECT_NE(out.find(";velocity % = 1.500000;"), std::string::npos);
}

// Each bad message is followed on the same topic by a good one, which the
// node handles after it; once the good one is queued, the bad ones are done.
TEST_F(MovjQueueing, WrongSizeOverRangeAndNonFiniteTargetsQueueNothing) {
  runPeer({"pace", "40",
           "movj", "0.1,0.1,0.1,0.1,0.1,0.1",            // no scale
           "movj", "0.1,0.1,0.1,0.1,0.1,0.1,0.5,0.5",    // one too many
           "movj", "0.1,0.1,3.2,0.1,0.1,0.1,0.5",        // axis 3 past pi
           "movj", "nan,0.1,0.1,0.1,0.1,0.1,0.5",        // NaN on axis 1
           "movj", "0.1,0.1,0.1,0.1,-inf,0.1,0.5",       // infinity on axis 5
           "movj", "0.1,0.1,0.1,0.1,0.1,3.1415927410125732,0.5",  // the float limit itself
           "movj", "0.7,0.7,0.7,0.7,0.7,0.7,0.5"});
  ASSERT_TRUE(waitForQueueSize(2, 5s));
  std::this_thread::sleep_for(100ms);
  auto queue = takeQueue();
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(trapezoidInputs(queue[0].get()).at(5).q1, static_cast<double>(3.1415927f));
  EXPECT_EQ(trapezoidInputs(queue[1].get()).at(0).q1, 0.7);

  const std::string out = capture_->text();
  EXPECT_NE(out.find("We recieve the wrong movj cmd size=<6>, not euqal (axis_num+1)"),
            std::string::npos);
  EXPECT_NE(out.find("We recieve the wrong movj cmd size=<8>, not euqal (axis_num+1)"),
            std::string::npos);
  const char* over = "st axim angle is over range.Please send viable command again.\n";
  EXPECT_NE(out.find(std::string("The 3") + over), std::string::npos);
  EXPECT_NE(out.find(std::string("The 1") + over), std::string::npos);
  EXPECT_NE(out.find(std::string("The 5") + over), std::string::npos);
  // Refused targets are still echoed before their range check.
  EXPECT_EQ(countOf(out, "I recieve movj:"), 5u);
}

TEST_F(MovjQueueing, ScaleThatCannotMoveNeverBecomesAMotion) {
  runPeer({"movj", "0.1,0.1,0.1,0.1,0.1,0.1,0", "movj", "0.1,0.1,0.1,0.1,0.1,0.1,-1",
           "movj", "0.1,0.1,0.1,0.1,0.1,0.1,nan"});
  ASSERT_TRUE(waitForQueueSize(3, 5s));
  auto queue = takeQueue();
  ASSERT_EQ(queue.size(), 3u);
  EXPECT_EQ(trapezoidInputs(queue[1].get()).at(0).vmax, -kMaxVel[0]);
  std::vector<double> positions(6, 0.0);
  for (auto& cmd : queue) {
    auto* move = dynamic_cast<AllAxisesJointPlanner*>(cmd.get());
    ASSERT_NE(move, nullptr);
    // The execution loop ends a command whose sampling fails.
    EXPECT_EQ(move->calAllJointsPostion(positions, 0.005), -1);
  }
}

TEST_F(MovjQueueing, AbnormalArmAnswersOnlyWithTheAbnormalLine) {
  interpolator_->setAbnormalFlag(true);
  runPeer({"movj", "0.1,0.1,0.1,0.1,0.1,0.1,0.5", "movjs", "4,7",
           "0,0,0,0,0,0,0,1,1,1,1,1,1,1,2,2,2,2,2,2,2,3,3,3,3,3,3,3"});
  ASSERT_TRUE(capture_->waitFor("The robot state is abnormal. Do not respond any command.\n"
                                "The robot state is abnormal. Do not respond any command.\n",
                                5s));
  EXPECT_EQ(queueSize(), 0u);
  const std::string out = capture_->text();
  EXPECT_EQ(out.find("I recieve movj"), std::string::npos);
  EXPECT_EQ(out.find("TrapezoidPlannerInput"), std::string::npos);
}

}  // namespace
}  // namespace node_test
