// Stop, serve on, home, recover and the grasp button reach the Interpolator,
// also while the arm is abnormal.
#include "node_harness.h"

namespace node_test {
namespace {

using namespace std::chrono_literals;

class OperatorCommands : public NodeTest {};

TEST_F(OperatorCommands, ServeOnHomeAndStopActEvenWhileAbnormal) {
  interpolator_->setAbnormalFlag(true);
  // serve_on_topic keeps one sample: give the node time between the two.
  runPeer({"serve", "1", "sleep", "200", "serve", "0", "home", "now", "stop", "halt"});
  ASSERT_TRUE(waitForQueueSize(3, 5s));
  ASSERT_TRUE(capture_->waitFor("I should stop: 'halt'", 5s));
  EXPECT_EQ(interpolator_->stop_flag_.load(), 1u);

  int enables = 0, disables = 0, homes = 0;
  for (auto& cmd : takeQueue()) {
    auto* io = dynamic_cast<MotorIoCmd*>(cmd.get());
    ASSERT_NE(io, nullptr);
    // Each command carries its own copy of the six axes.
    EXPECT_EQ(io->robot_para_.axis_num, 6);
    EXPECT_EQ(io->robot_para_.axis_paras.at(5).motor, motors_[5].get());
    if (io->getKind() == kMotorIoHome) {
      ++homes;
    } else if (io->getKind() == kMotorIoEnable) {
      io->enable_ ? ++enables : ++disables;
    }
  }
  EXPECT_EQ(enables, 1);
  EXPECT_EQ(disables, 1);
  EXPECT_EQ(homes, 1);
  const std::string out = capture_->text();
  EXPECT_NE(out.find("I set serve command: 1\n"), std::string::npos);
  EXPECT_NE(out.find("I set serve command: 0\n"), std::string::npos);
  EXPECT_NE(out.find("[INFO] ["), std::string::npos);
  EXPECT_NE(out.find("] [robot_cmd_processor]: I should setHome: 'now'"), std::string::npos);
}

TEST_F(OperatorCommands, RecoverWithFalseClearsTheFaultFlagAsTrueDoes) {
  interpolator_->setAbnormalFlag(true);
  runPeer({"recover", "0"});
  ASSERT_TRUE(capture_->waitFor("The system abnormal_flag has been recover.\n", 5s));
  EXPECT_FALSE(interpolator_->abnormal_flag.load());
  EXPECT_NE(capture_->text().find("I get recover command: 0\nThe system abnormal_flag"),
            std::string::npos);
  EXPECT_EQ(queueSize(), 0u);
}

TEST_F(OperatorCommands, GraspButtonReachesTheStreamedGripSignal) {
  runPeer({"grasp", "1"});
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  bool grip = false;
  while (!grip && std::chrono::steady_clock::now() < deadline) {
    interpolator_->getGripSignal(&grip);
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(grip);
}

}  // namespace
}  // namespace node_test
