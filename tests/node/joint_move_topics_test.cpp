// movj, movj_s and follow over DDS: what reaches the queue, and what must
// never reach it. (Well-formed movj_s lists are run end to end in tests/e2e.)
#include <cmath>
#include <limits>
#include <sstream>

#include "node_harness.h"
#include "stdout_capture.h"

namespace node_test {
namespace {

class JointMoveTopics : public NodeTest {};

TEST_F(JointMoveTopics, MovjStartsWhereTheMoveOrHomeBeforeItEndsWithItsScaleClampedAboveOne) {
  arm_->motors[3]->setPosition(0.25);
  ip()->readMotorStates();
  runPeer({"movj", "0.1,-0.2,0.3,-0.4,0.5,-0.6,0.5", "movj", "0.1,0.1,0.1,0.1,0.1,0.1,1.5",
           "movj", "0.1,0.1,0.1,0.1,0.1,0.1,1.0", "movj", "0.1,0.1,0.1,0.1,0.1,0.1,0",
           "movj", "0.1,0.1,0.1,0.1,0.1,0.1,-1", "sleep", "300", "home", "go", "sleep", "300",
           "movj", "0.1,0.1,0.1,0.1,0.1,0.1,0.5"});
  ASSERT_TRUE(waitForQueueSize(7));
  auto queue = takeQueue();
  EXPECT_EQ(trapezoidInputs(queue[6].get()).at(3).q0, 0.0);  // behind a home: from the home position
  const double target[6] = {0.1, -0.2, 0.3, -0.4, 0.5, -0.6};
  const double applied[5] = {0.5, 0.5, 1.0, 0.0, -1.0};  // 1.5 runs at 0.5, the rest as sent
  for (size_t k = 0; k < 5; ++k) {
    const auto in = trapezoidInputs(queue[k].get());
    ASSERT_EQ(in.size(), 6u) << k;
    for (size_t i = 0; i < 6; ++i) {
      SCOPED_TRACE(testing::Message() << "move " << k << " axis " << i);
      // The first from the measured pose, the others from where the one before ends.
      EXPECT_EQ(in[i].q0, k == 0 ? (i == 3 ? 0.25 : 0.0) : k == 1 ? target[i] : 0.1);
      EXPECT_EQ(in[i].q1, k == 0 ? target[i] : 0.1);
      EXPECT_EQ(in[i].v0, 0.0);
      EXPECT_EQ(in[i].v1, 0.0);
      EXPECT_DOUBLE_EQ(in[i].vmax, arm_->para.axis_paras[i].max_vel * applied[k]);
      EXPECT_DOUBLE_EQ(in[i].amax, applied[k]);
      EXPECT_DOUBLE_EQ(in[i].amin, -applied[k]);
    }
  }
}

// "v,v,v,v,v,v,last": six equal joints, then a movj scale or a movj_s time.
std::string same(double v, double last) {
  std::ostringstream out;
  for (int j = 0; j < 6; ++j) out << v << ",";
  out << last;
  return out.str();
}

// Moves sent while others run or wait: all run and arrive, and no goal steps
// further than its axis may move in a period. The last movj arrives during
// the second, after the first has ended.
TEST_F(JointMoveTopics, MovesSentWhileOthersRunStartWhereTheyEndAndAllArrive) {
  for (auto& m : arm_->motors) m->setEnabled(true);
  std::thread loop([this] { ip()->run(); });
  arm_test::StdoutCapture cap;
  runPeer({"movj", same(0.3, 1), "movj", same(0.6, 1), "sleep", "300", "movjs", "4,7",
           same(0.6, 0) + "," + same(0.5, 0.2) + "," + same(0.45, 0.4) + "," + same(0.4, 0.6),
           "sleep", "1500", "movj", same(0.2, 1)});
  for (int i = 0; i < 2000 && queueSize() > 0; ++i) std::this_thread::sleep_for(10ms);
  ip()->requestQuit();
  loop.join();
  const std::string out = cap.text();
  EXPECT_EQ(arm_test::countOf(out, "plan and curpos arrives goal"), 4);
  EXPECT_EQ(arm_test::countOf(out, "killed"), 0);
  for (size_t i = 0; i < 6; ++i) {
    double prev = 0.0;
    for (double goal : arm_->motors[i]->goals()) {
      EXPECT_LE(std::fabs(goal - prev), arm_->para.axis_paras[i].max_vel * 0.005 * (1 + 1e-9)) << i;
      prev = goal;
    }
    EXPECT_EQ(prev, 0.2);
  }
}

// Each bad message is followed on the same topic by a good one, which the
// node handles after it; once the good one is queued, the bad ones are done.
TEST_F(JointMoveTopics, MovjWithWrongSizeOverRangeOrNonFiniteTargetQueuesNothing) {
  testing::internal::CaptureStdout();
  runPeer({"pace", "40",
           "movj", "0.1,0.1,0.1,0.1,0.1,0.1",            // no scale
           "movj", "0.1,0.1,0.1,0.1,0.1,0.1,0.5,0.5",    // one too many
           "movj", "0.1,0.1,3.2,0.1,0.1,0.1,0.5",        // axis 3 past pi
           "movj", "nan,0.1,0.1,0.1,0.1,0.1,0.5",        // NaN on axis 1
           "movj", "0.1,0.1,0.1,0.1,-inf,0.1,0.5",       // infinity on axis 5
           "movj", "0.1,0.1,0.1,0.1,0.1,3.1415927410125732,0.5",  // the float limit itself
           "movj", "0.7,0.7,0.7,0.7,0.7,0.7,0.5"});
  ASSERT_TRUE(waitForQueueSize(2));
  auto queue = takeQueue();
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(trapezoidInputs(queue[0].get()).at(5).q1, static_cast<double>(3.1415927f));
  EXPECT_EQ(trapezoidInputs(queue[1].get()).at(0).q1, 0.7);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("We recieve the wrong movj cmd size=<6>, not euqal (axis_num+1)"), std::string::npos);
  EXPECT_NE(out.find("We recieve the wrong movj cmd size=<8>, not euqal (axis_num+1)"), std::string::npos);
  EXPECT_EQ(arm_test::countOf(out, "axim angle is over range.Please send viable command again."), 3);
}

// P rows of six joints and a time; joint j of point p is (p + 1) * 0.1 + j * 0.01.
std::string rows(int points, const std::vector<double>& times) {
  std::ostringstream out;
  for (int p = 0; p < points; ++p) {
    for (int j = 0; j < 6; ++j) out << (p + 1) * 0.1 + j * 0.01 << ",";
    out << times[static_cast<size_t>(p)] << (p + 1 < points ? "," : "");
  }
  return out.str();
}

TEST_F(JointMoveTopics, MalformedMovjSPointListsQueueNothing) {
  const std::string good = rows(4, {0.5, 1.0, 1.5, 2.0});
  const double inf = std::numeric_limits<double>::infinity();
  runPeer({
      "pace", "40",
      "movjs", "3,6", rows(3, {0.5, 1.0, 1.5}),           // too few points, columns wrong too
      "movjs", "4294967295,7", good,                      // P reads as -1
      "movjs", "-", good,                                 // no layout at all
      "movjs", "4", good,                                 // one dimension
      "movjs", "4,6", good,                               // columns without the time
      "movjs", "5,7", good,                               // a point more than the data holds
      "movjs", "613566757,7", good,                       // P x C wraps to 3 in 32 bits
      "movjs", "4,7", rows(4, {0.5, 1.0, 1.0, 2.0}),      // time stands still
      "movjs", "4,7", rows(4, {0.5, 0.2, 1.0, 2.0}),      // time runs back
      "movjs", "4,7", rows(4, {0.5, 1.0, 1.5, inf}),      // infinite time
      "movjs", "4,7", "0,0,0,0,0,0,0.5,0,0,0,nan,0,0,1,0,0,0,0,0,0,1.5,0,0,0,0,0,0,2",
      "movjs", "4,7", "0,0,0,0,0,0,0.5,0,0,0,4,0,0,1,0,0,0,0,0,0,1.5,0,0,0,0,0,0,2",
      "movjs", "4,7", good,
  });
  ASSERT_TRUE(waitForQueueSize(1));
  auto queue = takeQueue();
  auto* move = dynamic_cast<AllAxisesJointPlanner*>(queue.at(0).get());
  ASSERT_NE(move, nullptr);
  // Axis 6 of the good list: its joint of every point, and the times.
  const auto* last_axis = static_cast<CubicPlannerInput*>(move->cubicSpline_ptrs.at(5)->input());
  EXPECT_EQ(last_axis->positions, (std::vector<double>{0.15, 0.25, 0.35, 0.45}));
  EXPECT_EQ(last_axis->times, (std::vector<double>{0.5, 1.0, 1.5, 2.0}));
}

// The follow topic is not ordered with the B arm topic: the peer waits between them.
TEST_F(JointMoveTopics, FollowMovesAtPointFourToTheLastValidBArmState) {
  testing::internal::CaptureStderr();
  runPeer({"follow", "go", "sleep", "300",  // nothing stored yet
           "barm", "0.1,0.2,0.3,0.4,0.5,0.6", "barm", "1,1,1,1,1", "sleep", "300", "follow", "go",
           "sleep", "300", "barm", "0.1,nan,0.3,0.4,0.5,0.6", "sleep", "300", "follow", "go",
           "sleep", "300", "barm", "0.6,0.5,0.4,0.3,0.2,0.1", "sleep", "300", "follow", "go"});
  ASSERT_TRUE(waitForQueueSize(2));
  auto queue = takeQueue();
  const auto first = trapezoidInputs(queue[0].get());
  ASSERT_EQ(first.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_DOUBLE_EQ(first[i].q1, 0.1 * (i + 1));
    EXPECT_DOUBLE_EQ(first[i].amax, 0.4);
  }
  EXPECT_DOUBLE_EQ(first[1].vmax, arm_test::TestArm::kShoulderVel * 0.4);
  EXPECT_DOUBLE_EQ(trapezoidInputs(queue[1].get()).at(0).q1, 0.6);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(arm_test::countOf(log, "[robot_cmd_processor]: A arm start follow B arm current pos."), 4);
  EXPECT_EQ(arm_test::countOf(log, "[robot_cmd_processor]: ERROR: Cannot get B arm current pos."), 1);
  EXPECT_EQ(arm_test::countOf(log, "[robot_cmd_processor]: Get robot joint num not equal 6!"), 1);
}

}  // namespace
}  // namespace node_test
