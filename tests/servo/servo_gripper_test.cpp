// The servo gripper's commands and its at-target test, on a test motor.
#include <gtest/gtest.h>

#include <vector>

#include "motor/servo_gripper.h"
#include "test_motor.h"

namespace {

bool atTarget(ServoGripper& g, TestMotor& m, double position) {
  m.setPosition(position);
  bool at = false;
  EXPECT_EQ(g.getEnableStatus(&at), 0);
  return at;
}

TEST(ServoGripper, ReachesTheTargetOfTheLastCommandEitherWay) {
  TestMotor motor;
  {
    ServoGripper gripper(&motor);
    EXPECT_TRUE(motor.enabled());
    motor.setResult(TestMotor::kHome, kMotorHomeTimeout);
    EXPECT_EQ(gripper.init(), 0);  // the gripper reports 0 whatever the motor says
    EXPECT_EQ(motor.calls(TestMotor::kHome), 1);

    EXPECT_EQ(gripper.setGripper(1), 0);
    EXPECT_TRUE(atTarget(gripper, motor, 0.50307));  // goal 2373 read back
    EXPECT_FALSE(atTarget(gripper, motor, 0.51));
    EXPECT_EQ(gripper.setGripper(0), 0);
    EXPECT_TRUE(atTarget(gripper, motor, 3.00657));  // goal 4003 read back
    EXPECT_FALSE(atTarget(gripper, motor, 0.5));
    EXPECT_EQ(gripper.setGripper(2), 0);  // unknown: nothing sent, target kept
    EXPECT_TRUE(atTarget(gripper, motor, 3.0));
    EXPECT_EQ(motor.goals(), (std::vector<double>{0.5, 3.0}));
    motor.setResult(TestMotor::kSetPosition, kMotorGoalNotStored);
    EXPECT_EQ(gripper.setGripper(1), 0);
  }
  // The gripper never frees its motor, which the bus may still be serving.
  EXPECT_EQ(motor.calls(TestMotor::kSetPosition), 3);
}

}  // namespace
