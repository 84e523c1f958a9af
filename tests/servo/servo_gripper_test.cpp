// The servo gripper's commands and its at-target test, on a scripted motor.
#include <gtest/gtest.h>

#include <vector>

#include "servo_gripper.h"

namespace {

struct ScriptedMotor : CtrlMotorInterface {
  int init() override { return result; }
  int setMotorPosition(double p) override { sent.push_back(p); return result; }
  int getMotorPosition(double* p) override { *p = position; return result; }
  int setEnableStatus(bool e) override { wanted_on = e; return result; }
  int getEnableStatus(bool*) override { return result; }
  int seHome(uint32_t t) override { home_timeout = t; return result; }
  int getTorque(double*) override { return result; }
  int getVelocity(double*) override { return result; }

  int result = kMotorGoalNotStored;  // the gripper reports 0 whatever the motor says
  double position = 0.0;
  bool wanted_on = false;
  uint32_t home_timeout = 0;
  std::vector<double> sent;
};

bool atTarget(ServoGripper& g, ScriptedMotor& m, double position) {
  m.position = position;
  bool at = false;
  EXPECT_EQ(g.getEnableStatus(&at), 0);
  return at;
}

TEST(ServoGripper, ReachesTheTargetOfTheLastCommandEitherWay) {
  ScriptedMotor motor;
  {
    ServoGripper gripper(&motor);
    EXPECT_TRUE(motor.wanted_on);
    EXPECT_EQ(gripper.init(), 0);
    EXPECT_EQ(motor.home_timeout, 3000u);

    EXPECT_EQ(gripper.setGripper(1), 0);
    EXPECT_TRUE(atTarget(gripper, motor, 0.50307));  // goal 2373 read back
    EXPECT_FALSE(atTarget(gripper, motor, 0.51));
    EXPECT_EQ(gripper.setGripper(0), 0);
    EXPECT_TRUE(atTarget(gripper, motor, 3.00657));  // goal 4003 read back
    EXPECT_FALSE(atTarget(gripper, motor, 0.5));
    EXPECT_EQ(gripper.setGripper(2), 0);  // unknown: nothing sent, target kept
    EXPECT_EQ(gripper.setGripper(-1), 0);
    EXPECT_TRUE(atTarget(gripper, motor, 3.0));
    EXPECT_EQ(motor.sent, (std::vector<double>{0.5, 3.0}));
  }
  // The gripper never frees its motor, which the bus may still be serving.
  EXPECT_EQ(motor.setMotorPosition(0.1), kMotorGoalNotStored);
}

}  // namespace
