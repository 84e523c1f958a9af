// The servo-backed motor on its state block alone (no bus), the virtual motor, the servo gripper on a test motor.
#include "motor/bus_servo_motor.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <thread>
#include <tuple>

#include "motor/servo_gripper.h"
#include "motor/virtual_motor.h"
#include "test_motor.h"

namespace {

// Steps are truncated (1 rad is 2699.86); far outside the working range the goal is still the
// low 16 bits, without overflow; a non-number is refused (-1). Readings count 0.088 degrees a step.
TEST(MotorUnits, AnglesBecomeTruncatedGoalStepsAndReadingsUseTheServosScale) {
  const std::tuple<double, uint8_t, int> cases[] = {
      {0.0, 0, 2048},      {M_PI / 2, 0, 3072}, {-M_PI, 0, 0},       {M_PI, 0, 4096}, {1.0, 0, 2699},
      {M_PI / 2, 1, 1024}, {-4.0, 0, 0},        {2 * M_PI, 0, 6144}, {1e300, 0, 0},   {DBL_MAX, 0, 0},
      {NAN, 0, -1},        {INFINITY, 0, -1},   {-INFINITY, 0, -1}};
  for (const auto& [angle, reverse, goal] : cases) {
    busServoMotor m(1, reverse);
    m.state_.online = 1;
    const bool stored = m.setMotorPosition(angle) == kMotorOk && m.state_.goal_valid;
    EXPECT_EQ(stored ? m.state_.goal_position : -1, goal) << angle;
    m.state_.position = 2048;
    double read_back = 0.0;
    m.getMotorPosition(&read_back);
    EXPECT_NEAR(read_back, reverse ? -0.0039095 : 0.0039095, 1e-7);
  }
}

TEST(MotorUnits, GoalsTheBusCannotTakeAreRefusedOrDropped) {
  busServoMotor m(1, 0);
  bool enabled = true;
  EXPECT_EQ(m.setMotorPosition(0.0), kMotorGoalNotStored);  // no reading yet: offline
  EXPECT_EQ(m.getEnableStatus(&enabled), kMotorNoEnableState);
  EXPECT_TRUE(enabled);  // left as it was
  m.state_.online = 1;
  {
    // The 5 ms loop never waits for the bus: a block the bus holds drops the goal.
    std::lock_guard<std::mutex> bus_section(m.state_.mtx);
    std::thread([&m] { EXPECT_EQ(m.setMotorPosition(0.0), kMotorOk); }).join();
  }
  EXPECT_EQ(m.state_.goal_valid, 0);
}

// Read back: 0.50307 rad is goal 2373 (command 1), 3.00657 rad goal 4003 (command 0); command 2
// sends nothing and keeps the target. The gripper reports 0 whatever its motor says.
TEST(ServoGripper, ReachesTheTargetOfTheLastCommandEitherWay) {
  TestMotor motor;  // declared first, so a gripper that freed it would crash on leaving
  ServoGripper gripper(&motor);
  motor.setResult(TestMotor::kSetPosition, kMotorGoalNotStored);
  const std::tuple<int, double, bool> steps[] = {
      {1, 0.50307, true}, {1, 0.51, false}, {0, 3.00657, true}, {0, 0.5, false}, {2, 3.0, true}};
  for (const auto& [command, read_back, at_target] : steps) {
    bool at = !at_target;
    EXPECT_EQ(gripper.setGripper(command), 0);
    motor.setPosition(read_back);
    EXPECT_EQ(gripper.getEnableStatus(&at), 0);
    EXPECT_EQ(at, at_target) << read_back;
  }
  EXPECT_EQ(motor.calls(TestMotor::kSetPosition), 4);
}

// Stands in for an axis whose motor does not start: enable is confirmed at once, reads keep the preset.
TEST(VirtualMotor, ReportsEnabledAndLeavesReadValuesUntouched) {
  VirtualMotor motor(3, 1);
  bool enabled = false;
  double pos = 0.25, vel = -1.5, torque = 7.0;
  EXPECT_EQ(motor.setEnableStatus(false) + motor.getEnableStatus(&enabled), 0);
  EXPECT_EQ(motor.getMotorPosition(&pos) + motor.getVelocity(&vel) + motor.getTorque(&torque), 0);
  EXPECT_TRUE(enabled && pos == 0.25 && vel == -1.5 && torque == 7.0);
}

}  // namespace
