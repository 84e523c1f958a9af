#pragma once

#include <cstdint>

// Register map of the serial-bus servo families (addresses as sent in frames).
namespace servo_reg {

constexpr uint8_t kPwmMode = 9;          // family D: four zero bytes select PWM mode
constexpr uint8_t kModeAB = 33;          // 1 = wheel mode, families A and B
constexpr uint8_t kModeC = 35;           // 1 = wheel mode, family C
constexpr uint8_t kTorqueEnable = 40;    // 0 off, 1 on; 128 calibrates the middle
constexpr uint8_t kAcceleration = 41;
constexpr uint8_t kGoalPosition = 42;
constexpr uint8_t kGoalTime = 44;        // family D: also the PWM value
constexpr uint8_t kGoalSpeed = 46;
constexpr uint8_t kEepromLockCD = 48;
constexpr uint8_t kEepromLockAB = 55;
constexpr uint8_t kPresentPosition = 56;
constexpr uint8_t kPresentSpeed = 58;
constexpr uint8_t kPresentLoad = 60;
constexpr uint8_t kPresentVoltage = 62;
constexpr uint8_t kPresentTemperature = 63;
constexpr uint8_t kMoving = 66;
constexpr uint8_t kPresentCurrent = 69;

constexpr uint8_t kCalibrateMiddle = 128;  // written to kTorqueEnable
constexpr uint8_t kFeedbackLen = 15;       // registers 56 to 70 in one read

}  // namespace servo_reg
