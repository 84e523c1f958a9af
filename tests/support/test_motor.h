#pragma once

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
    kInit, kSetPosition, kGetPosition, kSetEnable, kGetEnable, kHome, kGetTorque, kGetVelocity, kHold, kOpCount
  };

 private:
  template <class F>
  auto locked(F f) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }
  template <class F>
  int run(Op op, F apply) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_[op];
    if (results_[op] == 0) apply();
    return results_[op];
  }

 public:

  explicit TestMotor(double position = 0.0, bool enabled = false) : position_(position), enabled_(enabled) {}

  int init() override { return run(kInit, [] {}); }
  int setMotorPosition(double p) override {
    return run(kSetPosition, [&] {
      goals_.push_back(p);
      if (!stuck_) velocity_ = (p - position_) / 0.005, position_ = p;
    });
  }
  int getMotorPosition(double* p) override { return run(kGetPosition, [&] { *p = position_; }); }
  int setEnableStatus(bool on) override { return run(kSetEnable, [&] { enabled_ = ignore_enable_ ? enabled_ : on; }); }
  int getEnableStatus(bool* on) override { return run(kGetEnable, [&] { *on = enabled_; }); }
  int seHome(uint32_t) override { return run(kHome, [&] { position_ = velocity_ = 0.0; }); }
  int getTorque(double* t) override { return run(kGetTorque, [&] { *t = 0.0; }); }
  int getVelocity(double* v) override { return run(kGetVelocity, [&] { *v = velocity_; }); }
  int getReadingAge(uint32_t* passes) override { return locked([&] { return *passes = age_, 0; }); }
  int getReadingLag(double* seconds) override { return locked([&] { return *seconds = lag_, 0; }); }
  // It stands at its last goal, or where it stuck.
  int holdPosition() override { return run(kHold, [] {}); }

  // Result of an operation from now on (0 restores success). A failing
  // operation changes nothing and leaves its output untouched.
  void setResult(Op op, int rc) { locked([&] { results_[op] = rc; }); }
  // Enable commands succeed but the state does not change.
  void setIgnoreEnable(bool ignore) { locked([&] { ignore_enable_ = ignore; }); }
  void setPosition(double p) { locked([&] { position_ = p; }); }
  void setEnabled(bool on) { locked([&] { enabled_ = on; }); }
  // Passes since the position and velocity were read (0: current).
  void setAge(uint32_t passes) { locked([&] { age_ = passes; }); }
  // Goals are taken but the shaft stays (at rest) where it is.
  void setStuck(bool stuck) { locked([&] { stuck_ = stuck, velocity_ = 0.0; }); }
  void setLag(double seconds) { locked([&] { lag_ = seconds; }); }
  int calls(Op op) const { return locked([&] { return calls_[op]; }); }
  double position() const { return locked([&] { return position_; }); }
  bool enabled() const { return locked([&] { return enabled_; }); }
  // Every goal accepted by setMotorPosition, in order.
  std::vector<double> goals() const { return locked([&] { return goals_; }); }

 private:
  mutable std::mutex mutex_;
  int results_[kOpCount] = {};
  int calls_[kOpCount] = {};
  double position_ = 0.0, velocity_ = 0.0;
  bool enabled_ = false, ignore_enable_ = false, stuck_ = false;
  uint32_t age_ = 0;
  double lag_ = 0.0;
  std::vector<double> goals_;
};
