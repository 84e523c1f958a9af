#pragma once

#include "motor/ctrl_gripper_interface.h"
#include "motor/ctrl_motor_interface.h"

// A gripper on one serial-bus servo: command 1 goes to 0.5 rad, command 0 to
// 3.0 rad.
class ServoGripper : public CtrlGripperInterface {
 public:
  // Drives servo 1 on the process-wide servo bus.
  ServoGripper();
  // Drives the given motor; the caller keeps it alive.
  explicit ServoGripper(CtrlMotorInterface* motor);
  // The motor is not freed: once initialised it stays registered with the
  // bus thread for the life of the process.
  ~ServoGripper() override {}

  int init() override;
  int setEnableStatus(bool enable) override;
  int setGripper(int command) override;
  int getEnableStatus(bool* at_target) override;
  int getGripperStopped(bool* stopped) override;

  static constexpr double kCommandOnePosition = 0.5;
  static constexpr double kCommandZeroPosition = 3.0;

  CtrlMotorInterface* motor_ = nullptr;

 private:
  // Target of the last command; before any command the command-1 position.
  double target_position_ = kCommandOnePosition;
};
