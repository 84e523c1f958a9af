// Enable, disable and home over every axis of a set of test motors.
#include "motion/commands/motor_io_cmd.h"

#include <gtest/gtest.h>

#include "test_motor.h"

namespace {

struct MotorSet {  // six enabled test motors behind one command
  MotorSet() {
    para.axis_num = 6;
    for (TestMotor& m : motors) {
      m.setEnabled(true);
      para.axis_paras.push_back({0.0, 0.0, 0.0, &m});
    }
    cmd.setRobotPara(para);
  }
  TestMotor motors[6];
  RobotPara para;
  MotorIoCmd cmd;
};

TEST(MotorIoCmd, RequestIsDoneOnlyWhenEveryAxisReadsIt) {
  MotorIoCmd fresh;  // defined start: no request, no axes
  EXPECT_TRUE(fresh.getKind() == kMotorIoNone && !fresh.enable_);
  MotorSet s;
  bool all_on = true;
  s.motors[3].setEnabled(false);
  EXPECT_TRUE(s.cmd.getEnableStatus(&all_on) == 0 && !all_on) << "one disabled axis makes the set disabled";
  s.cmd.setEnable(false);
  EXPECT_FALSE(s.cmd.isEnableDone()) << "five axes still hold torque";
  for (TestMotor& m : s.motors) m.setEnabled(false);
  EXPECT_TRUE(s.cmd.isEnableDone());
}

TEST(MotorIoCmd, FailingAxisOrSetThatCannotBeDrivenStopsTheRun) {
  MotorSet s;
  s.motors[2].setResult(TestMotor::kGetEnable, kMotorNoEnableState);
  s.motors[1].setResult(TestMotor::kSetEnable, kMotorGoalNotStored);
  s.motors[3].setResult(TestMotor::kHome, kMotorHomeTimeout);
  bool all_on = true;
  EXPECT_TRUE(s.cmd.getEnableStatus(&all_on) == kMotorNoEnableState && !all_on);
  EXPECT_EQ(s.cmd.setEnableStatus(false), kMotorGoalNotStored);
  EXPECT_EQ(s.cmd.seHome(3000), -1) << "whatever the motor's code";
  EXPECT_TRUE(!s.motors[0].enabled() && s.motors[2].enabled()) << "axes after the failing one are left alone";
  EXPECT_EQ(s.motors[3].calls(TestMotor::kGetEnable) + s.motors[4].calls(TestMotor::kHome), 0);
  s.para.axis_paras[2].motor = nullptr;  // an axis without a motor
  s.cmd.setRobotPara(s.para);
  EXPECT_EQ(s.cmd.seHome(1), -1);
  s.para.axis_paras.resize(2);  // fewer axes than it claims
  s.cmd.setRobotPara(s.para);
  EXPECT_EQ(s.cmd.setEnableStatus(true), -1);
  EXPECT_TRUE(s.motors[0].calls(TestMotor::kHome) == 1 && !s.motors[0].enabled()) << "nothing driven";
}

}  // namespace
