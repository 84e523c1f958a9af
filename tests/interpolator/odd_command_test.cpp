#include "interpolator_fixture.h"
#include "motion/commands/set_io_cmd.h"

namespace interp_test {
namespace {

// Reaches its target on the third status read.
class FakeGripper : public CtrlGripperInterface {
 public:
  int init() override { return 0; }
  int setEnableStatus(bool) override { return 0; }
  int setGripper(int command) override {
    commands.push_back(command);
    return 0;
  }
  int getEnableStatus(bool* at_target) override {
    *at_target = ++reads >= 3;
    return status_rc;
  }
  int getGripperStopped(bool* stopped) override {
    *stopped = true;
    return 0;
  }
  std::vector<int> commands;
  int reads = 0;
  int status_rc = 0;
};

SetIoCmd* gripperCmd(CtrlGripperInterface* gripper, int value) {
  auto* cmd = new SetIoCmd();
  cmd->gripper_ = gripper;
  cmd->io_value_ = value;
  return cmd;
}

// The gripper command is driven until at target; what cannot run is dropped
// with a line instead of staying in hand forever.
TEST_F(InterpolatorTest, GripperCommandsAreDrivenAndOddCommandsDropped) {
  makeArm(2);
  FakeGripper gripper, failing;
  failing.status_rc = 9;
  int deleted = 0;
  auto* odd = new CountedMotorIoCmd(&deleted);
  odd->cmd_type = 7;
  ip_->insertCmd(gripperCmd(&gripper, 42));
  ip_->insertCmd(odd);
  ip_->insertCmd(gripperCmd(nullptr, 0));
  ip_->insertCmd(gripperCmd(&failing, 0));
  Capture cap;
  ASSERT_TRUE(runUntilIdle(10));
  const std::string out = cap.text();
  EXPECT_EQ(gripper.commands, std::vector<int>{42});
  EXPECT_EQ(countOf(out, "Gripper Task Continue."), 2);
  EXPECT_EQ(countOf(out, "Gripper Task Finish."), 1);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(countOf(out, "The command of type <7> is unknown"), 1);
  EXPECT_EQ(countOf(out, "has no gripper"), 1);
  EXPECT_EQ(countOf(out, "The gripper return error_code=<9> when getEnableStatus.\n"), 1);
}

}  // namespace
}  // namespace interp_test
