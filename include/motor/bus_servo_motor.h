#pragma once

#include <cstdint>

#include "motor/ctrl_motor_interface.h"
#include "servo/servo_state.h"

// Known here by name only: the motor never touches the serial port itself.
namespace servo {
class ServoBusThread;
}  // namespace servo

// One joint driven by a serial-bus servo. It never touches the bus: commands
// become wishes in its ServoState, which the bus thread carries out on its
// next pass, and reads return what the bus thread cached there.
class busServoMotor : public CtrlMotorInterface {
 public:
  busServoMotor(uint32_t id, uint8_t reverse);
  // Registers with the given bus instead of the process-wide one (tests, tools).
  busServoMotor(uint32_t id, uint8_t reverse, servo::ServoBusThread* bus);
  // The bus keeps the address of state_ once init has run, so a motor that
  // was initialised must outlive the bus thread that serves it.
  ~busServoMotor() override {}

  int init() override;
  int setMotorPosition(double position) override;
  int getMotorPosition(double* position) override;
  int setEnableStatus(bool enable) override;
  int getEnableStatus(bool* enabled) override;
  int seHome(uint32_t timeout_s) override;
  int getTorque(double* torque) override;
  int getVelocity(double* velocity) override;
  // Never-trusted readings are as old as can be.
  int getReadingAge(uint32_t* passes) override;
  // Without a trusted reading, for ever.
  int getReadingLag(double* seconds) override;
  // The goal in the very steps of the last trusted reading; kMotorGoalNotStored without one.
  int holdPosition() override;
  void updateFeedback();

  // Returned by setMotorPosition for an angle that is not a finite number.
  static constexpr int kInvalidPosition = -1;
  static constexpr uint16_t kHomeGoal = 2048;
  static constexpr unsigned kHomePollUs = 10000;

  servo::ServoBusThread* servo_thread_ = nullptr;
  ServoFeedback feedback_;
  ServoState state_;
};
