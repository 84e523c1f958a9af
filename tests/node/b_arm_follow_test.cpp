// The B arm's joint store and the follow command built from it.
#include "node_harness.h"

namespace node_test {
namespace {

using namespace std::chrono_literals;

class BArmFollow : public NodeTest {};

TEST_F(BArmFollow, FollowBeforeAnyBArmStateLogsBothLinesAndQueuesNothing) {
  runPeer({"follow", "go"});
  ASSERT_TRUE(capture_->waitFor("ERROR: Cannot get B arm current pos.", 5s));
  const std::string out = capture_->text();
  const size_t start = out.find("[robot_cmd_processor]: A arm start follow B arm current pos.");
  ASSERT_NE(start, std::string::npos);
  EXPECT_LT(start, out.find("[robot_cmd_processor]: ERROR: Cannot get B arm current pos."));
  EXPECT_EQ(out.find("TrapezoidPlannerInput"), std::string::npos);
  EXPECT_EQ(queueSize(), 0u);
}

TEST_F(BArmFollow, ShortBArmStateKeepsTheLastSixAndFollowMovesThereAtPointFour) {
  // The follow topic is not ordered with the B arm topic: wait between them.
  runPeer({"barm", "0.1,0.2,0.3,0.4,0.5,0.6", "barm", "1,1,1,1,1", "sleep", "300", "follow",
           "go"});
  ASSERT_TRUE(waitForQueueSize(1, 5s));
  auto queue = takeQueue();
  ASSERT_EQ(queue.size(), 1u);
  const auto inputs = trapezoidInputs(queue[0].get());
  ASSERT_EQ(inputs.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_DOUBLE_EQ(inputs[i].q1, 0.1 * (i + 1));
    EXPECT_DOUBLE_EQ(inputs[i].amax, 0.4);
  }
  EXPECT_DOUBLE_EQ(inputs[1].vmax, 2.0943951023931957 * 0.4);
  EXPECT_EQ(countOf(capture_->text(), "[robot_cmd_processor]: Get robot joint num not equal 6!"),
            1u);
}

TEST_F(BArmFollow, BArmStateOutsideTheJointLimitsIsNotFollowed) {
  runPeer({"barm", "0.1,nan,0.3,0.4,0.5,0.6", "sleep", "300", "follow", "go"});
  ASSERT_TRUE(capture_->waitFor(
      "The 2st axim angle is over range.Please send viable command again.\n", 5s));
  EXPECT_EQ(queueSize(), 0u);
}

TEST_F(BArmFollow, AbnormalArmPlansTheFollowMoveButDropsIt) {
  interpolator_->setAbnormalFlag(true);
  runPeer({"barm", "0.1,0.2,0.3,0.4,0.5,0.6", "sleep", "300", "follow", "go"});
  ASSERT_TRUE(capture_->waitFor("The robot state is abnormal. Do not respond any command.", 5s));
  const std::string out = capture_->text();
  EXPECT_EQ(countOf(out, "TrapezoidPlannerInput:"), 6u);
  EXPECT_LT(out.rfind("TrapezoidPlannerInput:"),
            out.find("The robot state is abnormal. Do not respond any command."));
  EXPECT_EQ(queueSize(), 0u);
}

}  // namespace
}  // namespace node_test
