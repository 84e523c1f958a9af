#include "test_motor.h"

namespace {
constexpr double kPeriodS = 0.005;  // one pass of the execution loop
}  // namespace

TestMotor::TestMotor(double position, bool enabled) : position_(position), enabled_(enabled) {}

int TestMotor::enter(Op op) {
  ++calls_[op];
  return results_[op];
}

int TestMotor::init() {
  std::lock_guard<std::mutex> lock(mutex_);
  return enter(kInit);
}

int TestMotor::setMotorPosition(double position) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = enter(kSetPosition);
  if (rc != 0) return rc;
  goals_.push_back(position);
  velocity_ = (position - position_) / kPeriodS;
  position_ = position;
  return 0;
}

int TestMotor::getMotorPosition(double* position) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = enter(kGetPosition);
  if (rc == 0 && position != nullptr) *position = position_;
  return rc;
}

int TestMotor::setEnableStatus(bool enable) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = enter(kSetEnable);
  if (rc == 0 && !ignore_enable_) enabled_ = enable;
  return rc;
}

int TestMotor::getEnableStatus(bool* enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = enter(kGetEnable);
  if (rc == 0 && enabled != nullptr) *enabled = enabled_;
  return rc;
}

int TestMotor::seHome(uint32_t /*timeout_s*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = enter(kHome);
  if (rc == 0) {
    position_ = 0.0;
    velocity_ = 0.0;
  }
  return rc;
}

int TestMotor::getTorque(double* torque) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = enter(kGetTorque);
  if (rc == 0 && torque != nullptr) *torque = 0.0;
  return rc;
}

int TestMotor::getVelocity(double* velocity) {
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = enter(kGetVelocity);
  if (rc == 0 && velocity != nullptr) *velocity = velocity_;
  return rc;
}

void TestMotor::setResult(Op op, int rc) {
  std::lock_guard<std::mutex> lock(mutex_);
  results_[op] = rc;
}

void TestMotor::setIgnoreEnable(bool ignore) {
  std::lock_guard<std::mutex> lock(mutex_);
  ignore_enable_ = ignore;
}

void TestMotor::setPosition(double position) {
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = position;
}

void TestMotor::setEnabled(bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_ = enabled;
}

int TestMotor::calls(Op op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_[op];
}

double TestMotor::position() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return position_;
}

bool TestMotor::enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enabled_;
}

std::vector<double> TestMotor::goals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return goals_;
}

