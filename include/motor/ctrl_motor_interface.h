#pragma once

#include <cstdint>

// Error codes shared by every motor implementation and its callers.
constexpr int kMotorOk = 0;
constexpr int kMotorHomeTimeout = 3006;
constexpr int kMotorGoalNotStored = 5002;
constexpr int kMotorNoEnableState = 5004;

// One joint motor as the motion code sees it. Values are motor-side: callers
// apply the axis ratio.
class CtrlMotorInterface {
 public:
  CtrlMotorInterface() {}
  CtrlMotorInterface(uint32_t id, uint8_t reverse) : id_(id), reverse_(reverse) {}
  virtual ~CtrlMotorInterface() {}

  virtual int init() = 0;
  virtual int setMotorPosition(double position) = 0;
  virtual int getMotorPosition(double* position) = 0;
  virtual int setEnableStatus(bool enable) = 0;
  virtual int getEnableStatus(bool* enabled) = 0;
  virtual int seHome(uint32_t timeout_s) = 0;
  virtual int getTorque(double* torque) = 0;
  virtual int getVelocity(double* velocity) = 0;
  // Passes of the motor's own reader since position and velocity were last
  // read and trusted: 0 when they come from its latest pass. A motor without
  // a reader of its own is always current.
  virtual int getReadingAge(uint32_t* passes) {
    *passes = 0;
    return kMotorOk;
  }
  // How long (seconds) a goal set now may take to show in the position
  // read: a motor that reaches its goals at once shows them at once.
  virtual int getReadingLag(double* seconds) {
    *seconds = 0.0;
    return kMotorOk;
  }
  // Makes the last trusted position the goal, so the motor stays where it
  // stands; a motor that reaches its goals at once stands at its last goal.
  virtual int holdPosition() { return kMotorOk; }

  uint32_t id_ = 0;
  uint8_t reverse_ = 0;
};
