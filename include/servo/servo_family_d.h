#pragma once

#include <cstdint>

#include "servo/bus_serial.h"
#include "servo/servo_registers.h"

// Servo family D: 16-bit values high byte first, position, time and speed
// written as one block, and a PWM mode instead of a wheel mode. Reads with id
// -1 decode the feedback block cached by the last readFeedback.
class ServoFamilyD : public BusSerial {
 public:
  ServoFamilyD();
  explicit ServoFamilyD(uint8_t byte_order);
  ServoFamilyD(uint8_t byte_order, uint8_t reply_level);

  virtual int writePosition(uint8_t id, uint16_t position, uint16_t time, uint16_t speed);
  virtual int writePositionDeferred(uint8_t id, uint16_t position, uint16_t time, uint16_t speed);
  virtual void syncWritePositions(const uint8_t* ids, uint8_t n, const uint16_t* positions,
                                  const uint16_t* times, const uint16_t* speeds);
  virtual int setPwmMode(uint8_t id);
  virtual int writePwm(uint8_t id, int16_t pwm);
  virtual int setTorqueEnable(uint8_t id, uint8_t enable);
  virtual int unlockEeprom(uint8_t id);
  virtual int lockEeprom(uint8_t id);
  virtual int readFeedback(int id);
  virtual int readPosition(int id);
  virtual int readSpeed(int id);
  virtual int readLoad(int id);
  virtual int readVoltage(int id);
  virtual int readTemperature(int id);
  virtual int readMoving(int id);
  virtual int readCurrent(int id);

  uint8_t feedback_cache_[servo_reg::kFeedbackLen] = {};
};
