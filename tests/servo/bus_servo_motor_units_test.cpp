// Unit conversions and wishes of the servo-backed joint motor, on its state
// block alone (no bus).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "bus_servo_motor.h"

namespace {

constexpr double kPi = 3.141592653589793;

class MotorUnits : public ::testing::Test {
 protected:
  static void goOnline(busServoMotor& m) {
    std::lock_guard<std::mutex> lock(m.state_.mtx);
    m.state_.online = 1;
  }
  // The goal stored for an angle, or -1 when none was stored.
  static int goalFor(double angle, uint8_t reverse = 0) {
    busServoMotor m(1, reverse);
    goOnline(m);
    if (m.setMotorPosition(angle) != kMotorOk) return -1;
    std::lock_guard<std::mutex> lock(m.state_.mtx);
    return m.state_.goal_valid ? m.state_.goal_position : -1;
  }
  static double positionFor(int raw, uint8_t reverse = 0) {
    busServoMotor m(1, reverse);
    m.state_.position = raw;
    double out = 99.0;
    EXPECT_EQ(m.getMotorPosition(&out), kMotorOk);
    return out;
  }
};

TEST_F(MotorUnits, AnglesBecomeTruncatedGoalSteps) {
  EXPECT_EQ(goalFor(0.0), 2048);
  EXPECT_EQ(goalFor(kPi / 2), 3072);
  EXPECT_EQ(goalFor(-kPi / 2), 1024);
  EXPECT_EQ(goalFor(kPi), 4096);
  EXPECT_EQ(goalFor(-kPi), 0);
  EXPECT_EQ(goalFor(1.0), 2699);  // 2699.86, not rounded
  EXPECT_EQ(goalFor(kPi / 2, 1), 1024);
  EXPECT_EQ(goalFor(-4.0), 0);
}

TEST_F(MotorUnits, NonFiniteAnglesAreRefusedAndAnyFiniteOneConverts) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(goalFor(std::nan("")), -1);
  EXPECT_EQ(goalFor(inf), -1);
  EXPECT_EQ(goalFor(-inf), -1);
  // Far outside the working range the goal is still the low 16 bits of the
  // step count, computed without overflow.
  EXPECT_EQ(goalFor(2 * kPi), 6144);
  EXPECT_EQ(goalFor(1e300), 0);
  EXPECT_EQ(goalFor(std::numeric_limits<double>::max()), 0);
  EXPECT_EQ(goalFor(-1e300), 0);
}

TEST_F(MotorUnits, ReadingsUseTheServosOwnScale) {
  EXPECT_NEAR(positionFor(2048), 0.0039095, 1e-7);  // 0.088 deg per step on reading
  EXPECT_NEAR(positionFor(2048, 1), -0.0039095, 1e-7);
  EXPECT_NEAR(positionFor(0), -kPi, 1e-12);
  EXPECT_NEAR(positionFor(0, 1), kPi, 1e-12);

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
