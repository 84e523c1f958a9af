#include "motor/virtual_motor.h"

#include <cstdio>

int VirtualMotor::init() { return kMotorOk; }

int VirtualMotor::setMotorPosition(double position) {
  printf("%lf,", position);
  return kMotorOk;
}

// Reads leave the output as the caller preset it.
int VirtualMotor::getMotorPosition(double* /*position*/) { return kMotorOk; }

int VirtualMotor::setEnableStatus(bool /*enable*/) { return kMotorOk; }

int VirtualMotor::getEnableStatus(bool* enabled) {
  if (enabled != nullptr) *enabled = true;
  return kMotorOk;
}

int VirtualMotor::seHome(uint32_t /*timeout_s*/) { return kMotorOk; }

int VirtualMotor::getTorque(double* /*torque*/) { return kMotorOk; }

int VirtualMotor::getVelocity(double* /*velocity*/) { return kMotorOk; }
