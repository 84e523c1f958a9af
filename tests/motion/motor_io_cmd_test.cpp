// Enable, disable and home of all axes, and gripper commands without a gripper.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "motion/commands/motor_io_cmd.h"
#include "stdout_capture.h"
#include "test_motor.h"

namespace {

using arm_test::StdoutCapture;

class MotorIoCmdTest : public testing::Test {
 protected:
  void SetUp() override {
    para_.axis_num = 6;
    para_.axis_reserved.resize(6);
    para_.axis_paras.resize(6);
    for (int i = 0; i < 6; ++i) {
      motors_.push_back(std::make_unique<TestMotor>(0.0, true));
      para_.axis_paras[i].motor = motors_.back().get();
    }
    cmd_.setRobotPara(para_);
  }
  TestMotor& motor(int axis) { return *motors_[axis - 1]; }
  int calls(TestMotor::Op op) {
    int n = 0;
    for (auto& m : motors_) n += m->calls(op);
    return n;
  }

  std::vector<std::unique_ptr<TestMotor>> motors_;
  RobotPara para_;
  MotorIoCmd cmd_;
};

TEST_F(MotorIoCmdTest, EnableStateIsAndOverAllAxes) {
  MotorIoCmd fresh;  // defined start: no request, no axes
  EXPECT_EQ(fresh.getKind(), kMotorIoNone);
  EXPECT_FALSE(fresh.enable_);
  bool all_on = false;
  EXPECT_EQ(fresh.getEnableStatus(&all_on), 0);
  EXPECT_TRUE(all_on);

  EXPECT_EQ(cmd_.getEnableStatus(&all_on), 0);
  EXPECT_TRUE(all_on);
  motor(4).setEnabled(false);
  EXPECT_EQ(cmd_.getEnableStatus(&all_on), 0);
  EXPECT_FALSE(all_on);
  EXPECT_EQ(motor(6).calls(TestMotor::kGetEnable), 2) << "axes after a disabled one are still read";
}

TEST_F(MotorIoCmdTest, FailingAxisStopsTheRun) {
  motor(3).setResult(TestMotor::kGetEnable, kMotorNoEnableState);
  bool all_on = true;
  StdoutCapture quiet;
  EXPECT_EQ(cmd_.getEnableStatus(&all_on), kMotorNoEnableState);
  EXPECT_FALSE(all_on);
  EXPECT_EQ(motor(4).calls(TestMotor::kGetEnable), 0);
  cmd_.setEnable(true);
  EXPECT_FALSE(cmd_.isEnableDone());

  for (auto& m : motors_) m->setEnabled(false);
  motor(2).setResult(TestMotor::kSetEnable, kMotorGoalNotStored);
  EXPECT_EQ(cmd_.execute(), kMotorGoalNotStored);
  EXPECT_TRUE(motor(1).enabled());
  EXPECT_EQ(calls(TestMotor::kSetEnable), 2);

  motor(4).setResult(TestMotor::kHome, kMotorHomeTimeout);
  EXPECT_EQ(cmd_.seHome(3000), -1) << "whatever the motor's code";
  EXPECT_EQ(motor(5).calls(TestMotor::kHome), 0) << "axes after the failing one are left alone";
}

TEST_F(MotorIoCmdTest, DoneOnlyWhenEveryAxisReachedRequestedState) {
  cmd_.setEnable(false);
  motor(1).setEnabled(false);
  EXPECT_FALSE(cmd_.isEnableDone()) << "five axes still hold torque";
  for (auto& m : motors_) m->setEnabled(false);
  EXPECT_TRUE(cmd_.isEnableDone());

  cmd_.setEnable(true);
  EXPECT_EQ(cmd_.execute(), 0);
  motor(5).setIgnoreEnable(true);
  motor(5).setEnabled(false);
  EXPECT_FALSE(cmd_.isEnableDone());
}

TEST_F(MotorIoCmdTest, SetThatCannotBeDrivenIsRefused) {
  RobotPara short_set = para_;
  short_set.axis_paras.resize(4);
  cmd_.setRobotPara(short_set);
  bool all_on = true;
  StdoutCapture quiet;
  EXPECT_EQ(cmd_.getEnableStatus(&all_on), -1);
  EXPECT_FALSE(all_on);
  EXPECT_EQ(cmd_.setEnableStatus(true), -1);
  RobotPara no_motor = para_;
  no_motor.axis_paras[2].motor = nullptr;
  cmd_.setRobotPara(no_motor);
  EXPECT_EQ(cmd_.seHome(1), -1);
  EXPECT_EQ(calls(TestMotor::kGetEnable) + calls(TestMotor::kSetEnable) + calls(TestMotor::kHome), 0);
}

}  // namespace
