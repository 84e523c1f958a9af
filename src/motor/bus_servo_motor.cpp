#include "motor/bus_servo_motor.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

#include "servo/servo_bus_thread.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kStepsPerDegree = 11.377777777777778;  // 4096 / 360
constexpr double kTorquePerCurrentUnit = 0.001;
constexpr double kGoalRange = 65536.0;  // goals are the low 16 bits of the step count

uint16_t goalSteps(double degrees) {
  const double steps = std::trunc(degrees * kStepsPerDegree);
  // Beyond 2^69 every double is a multiple of 2^16, so an overflowed count
  // has low bits 0 as well.
  if (!(steps > 0.0) || !std::isfinite(steps)) return 0;
  // fmod keeps the low 16 bits exact for any finite count, where a cast
  // to an integer type would be undefined beyond its range.
  return static_cast<uint16_t>(std::fmod(steps, kGoalRange));
}

}  // namespace

busServoMotor::busServoMotor(uint32_t id, uint8_t reverse) : CtrlMotorInterface(id, reverse) {}

busServoMotor::busServoMotor(uint32_t id, uint8_t reverse, servo::ServoBusThread* bus)
    : CtrlMotorInterface(id, reverse) {
  servo_thread_ = bus;
}

int busServoMotor::init() {
  {
    std::lock_guard<std::mutex> lock(state_.mtx);
    resetServoState(state_);
    state_.id = id_;
    state_.want_enable = 0;
  }
  feedback_ = ServoFeedback();
  if (servo_thread_ == nullptr) servo_thread_ = servo::ServoBusThread::getInstance();
  servo_thread_->registerServo(id_, &state_);
  return kMotorOk;
}

int busServoMotor::setMotorPosition(double position) {
  if (!std::isfinite(position)) return kInvalidPosition;
  const double joint = reverse_ != 0 ? -position : position;
  const uint16_t goal = goalSteps(joint * 180.0 / kPi + kServoAngleOffsetDeg);
  std::unique_lock<std::mutex> lock(state_.mtx, std::try_to_lock);
  // The bus thread holds the lock only briefly; the next 5 ms step sends a fresh goal.
  if (!lock.owns_lock()) return kMotorOk;
  if (state_.online == 0) return kMotorGoalNotStored;
  state_.goal_position = goal;
  state_.goal_speed = 0;
  state_.acc = 0;
  state_.goal_valid = 1;
  return kMotorOk;
}

int busServoMotor::getMotorPosition(double* position) {
  std::lock_guard<std::mutex> lock(state_.mtx);
  const double degrees = static_cast<double>(state_.position) * kServoDegreesPerStep -
                         kServoAngleOffsetDeg;
  if (position != nullptr) *position = (reverse_ != 0 ? -degrees : degrees) * kPi / 180.0;
  return kMotorOk;
}

int busServoMotor::getVelocity(double* velocity) {
  std::lock_guard<std::mutex> lock(state_.mtx);
  if (velocity != nullptr) {
    *velocity = static_cast<double>(state_.speed) * kServoDegPerSecPerUnit * kPi / 180.0;
  }
  return kMotorOk;
}

int busServoMotor::getReadingAge(uint32_t* passes) {
  std::lock_guard<std::mutex> lock(state_.mtx);
  // Passes are counted from 1, so 0 means nothing was ever trusted.
  *passes = state_.feedback_pass == 0 ? UINT32_MAX : state_.served_pass - state_.feedback_pass;
  return kMotorOk;
}

int busServoMotor::getReadingLag(double* seconds) {
  const int64_t now_us =
      servo_thread_ != nullptr ? servo_thread_->clock_us_() : servo::ServoBusThread::steadyUs();
  std::lock_guard<std::mutex> lock(state_.mtx);
  const int64_t lag_us = servo::ServoBusThread::readingLagUs(state_, now_us);
  *seconds = lag_us < 0 ? std::numeric_limits<double>::infinity() : static_cast<double>(lag_us) / 1e6;
  return kMotorOk;
}

int busServoMotor::holdPosition() {
  std::lock_guard<std::mutex> lock(state_.mtx);
  if (state_.feedback_pass == 0) return kMotorGoalNotStored;
  // Goal and present position count the same steps (a negative one goes out sign and magnitude).
  state_.goal_position = static_cast<uint16_t>(state_.position);
  state_.goal_speed = 0;
  state_.acc = 0;
  state_.goal_valid = 1;
  return kMotorOk;
}

int busServoMotor::getTorque(double* torque) {
  std::lock_guard<std::mutex> lock(state_.mtx);
  if (torque != nullptr) *torque = static_cast<double>(state_.current) * kTorquePerCurrentUnit;
  return kMotorOk;
}

int busServoMotor::setEnableStatus(bool enable) {
  std::lock_guard<std::mutex> lock(state_.mtx);
  // A goal stored before the torque went off must not be replayed when it
  // comes back on: the arm would jump to a stale position. A servo that cut
  // its own torque has had its wish cleared, so it comes back the same way.
  if (enable && state_.want_enable == 0) state_.goal_valid = 0;
  state_.want_enable = enable ? 1 : 0;
  return kMotorOk;
}

int busServoMotor::getEnableStatus(bool* enabled) {
  std::lock_guard<std::mutex> lock(state_.mtx);
  if (state_.online == 0) return kMotorNoEnableState;
  if (enabled != nullptr) *enabled = state_.enabled != 0;
  return kMotorOk;
}

int busServoMotor::seHome(uint32_t timeout_s) {
  {
    std::lock_guard<std::mutex> lock(state_.mtx);
    state_.calibrate = 1;
    state_.goal_position = kHomeGoal;
    state_.goal_valid = 0;
  }
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  uint64_t elapsed_s = 0;
  auto pending = [this] {
    std::lock_guard<std::mutex> lock(state_.mtx);
    return state_.calibrate != 0;
  };
  while (elapsed_s < timeout_s && pending()) {
    usleep(kHomePollUs);
    elapsed_s = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - t0).count());
  }
  return elapsed_s < timeout_s ? kMotorOk : kMotorHomeTimeout;
}

void busServoMotor::updateFeedback() {
  std::unique_lock<std::mutex> lock(state_.mtx, std::try_to_lock);
  if (!lock.owns_lock()) return;
  fillServoFeedback(state_, &feedback_);
}
