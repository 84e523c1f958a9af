#include <gtest/gtest.h>

#include "motor/virtual_motor.h"

namespace {

// Stands in for an axis whose motor does not start: an enable is confirmed at
// once, and reads give back the caller's preset values rather than garbage.
TEST(VirtualMotor, ReportsEnabledAndLeavesReadValuesUntouched) {
  VirtualMotor motor(3, 1);
  bool enabled = false;
  double pos = 0.25, vel = -1.5, torque = 7.0;
  EXPECT_EQ(motor.setEnableStatus(false), 0);
  EXPECT_EQ(motor.getEnableStatus(&enabled), 0);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(motor.getMotorPosition(&pos) + motor.getVelocity(&vel) + motor.getTorque(&torque), 0);
  EXPECT_EQ(pos, 0.25);
  EXPECT_EQ(vel, -1.5);
  EXPECT_EQ(torque, 7.0);
}

}  // namespace
