#include "motor/virtual_motor.h"

#include <gtest/gtest.h>

// Stands in for an axis whose motor does not start: enable is confirmed at once, reads keep the preset.
TEST(VirtualMotor, ReportsEnabledAndLeavesReadValuesUntouched) {
  VirtualMotor motor(3, 1);
  bool enabled = false;
  double pos = 0.25, vel = -1.5, torque = 7.0;
  EXPECT_EQ(motor.setEnableStatus(false) + motor.getEnableStatus(&enabled), 0);
  EXPECT_EQ(motor.getMotorPosition(&pos) + motor.getVelocity(&vel) + motor.getTorque(&torque), 0);
  EXPECT_TRUE(enabled && pos == 0.25 && vel == -1.5 && torque == 7.0);
}
