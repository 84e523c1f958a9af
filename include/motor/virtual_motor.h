#pragma once

#include "motor/ctrl_motor_interface.h"

// A motor without hardware: accepts every command and reports success.
class VirtualMotor : public CtrlMotorInterface {
 public:
  VirtualMotor() {}
  VirtualMotor(int axis, uint8_t flag) { (void)axis; (void)flag; }
  ~VirtualMotor() override {}

  int init() override;
  int setMotorPosition(double position) override;
  int getMotorPosition(double* position) override;
  int setEnableStatus(bool enable) override;
  int getEnableStatus(bool* enabled) override;
  int seHome(uint32_t timeout_s) override;
  int getTorque(double* torque) override;
  int getVelocity(double* velocity) override;
};
