#include <gtest/gtest.h>

#include "virtual_motor.h"

namespace {

TEST(VirtualMotor, ReportsEnabledWhateverWasRequested) {
  VirtualMotor motor;
  bool enabled = false;
  EXPECT_EQ(motor.setEnableStatus(false), 0);
  EXPECT_EQ(motor.getEnableStatus(&enabled), 0);
  EXPECT_TRUE(enabled);
}

TEST(VirtualMotor, ReadsLeaveThePresetValue) {
  VirtualMotor motor(3, 1);
  double pos = 0.25, vel = -1.5, torque = 7.0;
  EXPECT_EQ(motor.getMotorPosition(&pos), 0);
  EXPECT_EQ(motor.getVelocity(&vel), 0);
  EXPECT_EQ(motor.getTorque(&torque), 0);
  EXPECT_EQ(pos, 0.25);
  EXPECT_EQ(vel, -1.5);
  EXPECT_EQ(torque, 7.0);
}

TEST(VirtualMotor, PrintsPositionsOnOneLine) {
  VirtualMotor motor;
  testing::internal::CaptureStdout();
  EXPECT_EQ(motor.setMotorPosition(0.5), 0);
  EXPECT_EQ(motor.setMotorPosition(-1.0), 0);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0.500000,-1.000000,");
}

TEST(VirtualMotor, HomeReturnsAtOnceForAnyTimeout) {
  VirtualMotor motor;
  EXPECT_EQ(motor.seHome(0), 0);
  EXPECT_EQ(motor.seHome(3000), 0);
}

}  // namespace
