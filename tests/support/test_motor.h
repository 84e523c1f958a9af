#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "motor/ctrl_motor_interface.h"

// A simulated joint motor for tests. It moves to each goal it is sent,
// reports the velocity of its last move over one 5 ms period, and can be told
// to fail any operation or to ignore enable. Every operation is counted. Safe
// to drive from one thread and inspect from another.
class TestMotor : public CtrlMotorInterface {
 public:
  enum Op {
    kInit,
    kSetPosition,
    kGetPosition,
    kSetEnable,
    kGetEnable,
    kHome,
    kGetTorque,
    kGetVelocity,
    kOpCount
  };

  explicit TestMotor(double position = 0.0, bool enabled = false);

  int init() override;
  int setMotorPosition(double position) override;
  int getMotorPosition(double* position) override;
  int setEnableStatus(bool enable) override;
  int getEnableStatus(bool* enabled) override;
  int seHome(uint32_t timeout_s) override;
  int getTorque(double* torque) override;
  int getVelocity(double* velocity) override;

  // Result of an operation from now on (0 restores success). A failing
  // operation changes nothing and leaves its output untouched.
  void setResult(Op op, int rc);
  // Enable commands succeed but the state does not change.
  void setIgnoreEnable(bool ignore);
  void setPosition(double position);
  void setEnabled(bool enabled);

  int calls(Op op) const;
  double position() const;
  bool enabled() const;
  // Every goal accepted by setMotorPosition, in order.
  std::vector<double> goals() const;

 private:
  // Counts the call and returns the preset result.
  int enter(Op op);

  mutable std::mutex mutex_;
  int results_[kOpCount] = {};
  int calls_[kOpCount] = {};
  double position_ = 0.0;
  double velocity_ = 0.0;
  bool enabled_ = false;
  bool ignore_enable_ = false;
  std::vector<double> goals_;
};
