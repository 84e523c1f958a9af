#pragma once

#include <cstdint>

#include "bus_serial.h"
#include "servo_registers.h"

// Servo family C: as family A with the mode register at 35 and the EEPROM
// lock at 48; 16-bit values low byte first. Reads with id -1 decode the
// feedback block cached by the last readFeedback.
class ServoFamilyC : public BusSerial {
 public:
  ServoFamilyC();
  explicit ServoFamilyC(uint8_t byte_order);
  ServoFamilyC(uint8_t byte_order, uint8_t reply_level);

  virtual int writePosition(uint8_t id, int16_t position, uint16_t speed, uint8_t acc);
  // Registered write: the servo starts it at the next broadcast action.
  virtual int writePositionDeferred(uint8_t id, int16_t position, uint16_t speed, uint8_t acc);
  // Negative entries of positions are rewritten in place to their bus form.
  virtual void syncWritePositions(const uint8_t* ids, uint8_t n, int16_t* positions,
                                  const uint16_t* speeds, const uint8_t* accs);
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
