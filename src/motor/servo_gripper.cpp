#include "motor/servo_gripper.h"

#include <cmath>
#include <cstdint>

#include "motor/bus_servo_motor.h"

namespace {

constexpr uint32_t kGripperServoId = 1;
constexpr uint8_t kGripperReverse = 0;
constexpr uint32_t kHomeTimeoutS = 3000;
constexpr double kAtTargetTolerance = 0.01;  // rad
constexpr double kStoppedTolerance = 0.001;  // rad/s

}  // namespace

ServoGripper::ServoGripper() : ServoGripper(new busServoMotor(kGripperServoId, kGripperReverse)) {}

ServoGripper::ServoGripper(CtrlMotorInterface* motor) : motor_(motor) {
  motor_->init();
  motor_->setEnableStatus(true);
}

int ServoGripper::init() {
  motor_->seHome(kHomeTimeoutS);
  return 0;
}

int ServoGripper::setEnableStatus(bool /*enable*/) { return 0; }

int ServoGripper::setGripper(int command) {
  if (command == 1) {
    target_position_ = kCommandOnePosition;
  } else if (command == 0) {
    target_position_ = kCommandZeroPosition;
  } else {
    return 0;
  }
  motor_->setMotorPosition(target_position_);
  return 0;
}

int ServoGripper::getEnableStatus(bool* at_target) {
  double position = 0.0;
  motor_->getMotorPosition(&position);
  if (at_target != nullptr) *at_target = std::fabs(position - target_position_) < kAtTargetTolerance;
  return 0;
}

int ServoGripper::getGripperStopped(bool* stopped) {
  double velocity = 0.0;
  motor_->getVelocity(&velocity);
  if (stopped != nullptr) *stopped = std::fabs(velocity) < kStoppedTolerance;
  return 0;
}
