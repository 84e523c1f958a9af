// Unit conversions of the servo-backed joint motor, on its state block alone
// (no bus).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "motor/bus_servo_motor.h"

namespace {

constexpr double kPi = 3.141592653589793;

// The goal stored for an angle on an online servo, or -1 when none was stored.
int goalFor(double angle, uint8_t reverse = 0) {
  busServoMotor m(1, reverse);
  m.state_.online = 1;
  if (m.setMotorPosition(angle) != kMotorOk) return -1;
  return m.state_.goal_valid ? m.state_.goal_position : -1;
}

double positionFor(int raw, uint8_t reverse = 0) {
  busServoMotor m(1, reverse);
  m.state_.position = raw;
  double out = 99.0;
  EXPECT_EQ(m.getMotorPosition(&out), kMotorOk);
  return out;
}

TEST(MotorUnits, AnglesBecomeTruncatedGoalSteps) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double angle;
    uint8_t reverse;
    int goal;
  } cases[] = {
      {0.0, 0, 2048}, {kPi / 2, 0, 3072}, {-kPi / 2, 0, 1024}, {kPi, 0, 4096}, {-kPi, 0, 0},
      {1.0, 0, 2699},  // 2699.86, not rounded
      {kPi / 2, 1, 1024}, {-4.0, 0, 0},
      // Far outside the working range the goal is still the low 16 bits of
      // the step count, computed without overflow.
      {2 * kPi, 0, 6144}, {1e300, 0, 0}, {std::numeric_limits<double>::max(), 0, 0},
      // Not a number of radians: refused, nothing stored.
      {std::nan(""), 0, -1}, {inf, 0, -1}, {-inf, 0, -1}};
  for (const auto& c : cases) EXPECT_EQ(goalFor(c.angle, c.reverse), c.goal) << c.angle;
}

TEST(MotorUnits, ReadingsUseTheServosOwnScale) {
  EXPECT_NEAR(positionFor(2048), 0.0039095, 1e-7);  // 0.088 deg per step on reading
  EXPECT_NEAR(positionFor(2048, 1), -0.0039095, 1e-7);
  EXPECT_NEAR(positionFor(0), -kPi, 1e-12);

  busServoMotor reversed(1, 1);
  reversed.state_.speed = 1000;
  reversed.state_.current = -250;
  double velocity = 0.0, torque = 0.0;
  EXPECT_EQ(reversed.getVelocity(&velocity), kMotorOk);
  EXPECT_EQ(reversed.getTorque(&torque), kMotorOk);
  EXPECT_NEAR(velocity, 1.5331, 1e-4);  // the reverse flag applies to position only
  EXPECT_DOUBLE_EQ(torque, -0.25);
}

}  // namespace
