#pragma once

#include <cstdint>

#include "servo/bus_serial.h"
#include "servo/servo_registers.h"

// The servo families that share one encoding: 16-bit values low byte first,
// the same operations, and only the mode and EEPROM-lock registers apart.
// Reads with id -1 decode the feedback block cached by the last readFeedback.
template <uint8_t kModeReg, uint8_t kEepromLockReg>
class ServoFamilyLowFirst : public BusSerial {
 public:
  ServoFamilyLowFirst();
  explicit ServoFamilyLowFirst(uint8_t byte_order);
  ServoFamilyLowFirst(uint8_t byte_order, uint8_t reply_level);

  virtual int writePosition(uint8_t id, int16_t position, uint16_t speed, uint8_t acc);
  // Registered write: the servo starts it at the next broadcast action.
  virtual int writePositionDeferred(uint8_t id, int16_t position, uint16_t speed, uint8_t acc);
  // Negative entries of positions are rewritten in place to their bus form.
  virtual void syncWritePositions(const uint8_t* ids, uint8_t n, int16_t* positions, const uint16_t* speeds,
                                  const uint8_t* accs);
  virtual int setWheelMode(uint8_t id);
  virtual int writeWheelSpeed(uint8_t id, int16_t speed, uint8_t acc);
  virtual int setTorqueEnable(uint8_t id, uint8_t enable);
  virtual int unlockEeprom(uint8_t id);
  virtual int lockEeprom(uint8_t id);
  virtual int calibrateMiddle(uint8_t id);
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

using ServoFamilyLowFirstAB = ServoFamilyLowFirst<servo_reg::kModeAB, servo_reg::kEepromLockAB>;
using ServoFamilyLowFirstC = ServoFamilyLowFirst<servo_reg::kModeC, servo_reg::kEepromLockCD>;
extern template class ServoFamilyLowFirst<servo_reg::kModeAB, servo_reg::kEepromLockAB>;
extern template class ServoFamilyLowFirst<servo_reg::kModeC, servo_reg::kEepromLockCD>;
