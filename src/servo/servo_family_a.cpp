#include "servo_family_a.h"

#include "servo_family_ops.h"

using servo_family::Width;

namespace {
constexpr uint8_t kLowByteFirst = 0;
}  // namespace

ServoFamilyA::ServoFamilyA() { byte_order_ = kLowByteFirst; }

ServoFamilyA::ServoFamilyA(uint8_t byte_order) : BusSerial(byte_order) {}

ServoFamilyA::ServoFamilyA(uint8_t byte_order, uint8_t reply_level) : BusSerial(byte_order, reply_level) {}

int ServoFamilyA::writePosition(uint8_t id, int16_t position, uint16_t speed, uint8_t acc) {
  return servo_family::writePositionAt41(*this, false, id, position, speed, acc);
}

int ServoFamilyA::writePositionDeferred(uint8_t id, int16_t position, uint16_t speed, uint8_t acc) {
  return servo_family::writePositionAt41(*this, true, id, position, speed, acc);
}

void ServoFamilyA::syncWritePositions(const uint8_t* ids, uint8_t n, int16_t* positions,
                                     const uint16_t* speeds, const uint8_t* accs) {
  servo_family::syncWritePositionsAt41(*this, ids, n, positions, speeds, accs);
}

int ServoFamilyA::setWheelMode(uint8_t id) { return writeRegByte(id, servo_reg::kModeAB, 1); }

int ServoFamilyA::writeWheelSpeed(uint8_t id, int16_t speed, uint8_t acc) {
  return servo_family::writeWheelSpeed(*this, id, speed, acc);
}

int ServoFamilyA::setTorqueEnable(uint8_t id, uint8_t enable) {
  return writeRegByte(id, servo_reg::kTorqueEnable, enable);
}

int ServoFamilyA::unlockEeprom(uint8_t id) { return writeRegByte(id, servo_reg::kEepromLockAB, 0); }

int ServoFamilyA::lockEeprom(uint8_t id) { return writeRegByte(id, servo_reg::kEepromLockAB, 1); }

int ServoFamilyA::calibrateMiddle(uint8_t id) {
  return writeRegByte(id, servo_reg::kTorqueEnable, servo_reg::kCalibrateMiddle);
}

int ServoFamilyA::readFeedback(int id) {
  return servo_family::readFeedback(*this, feedback_cache_, id);
}

int ServoFamilyA::readPosition(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentPosition,
                                 Width::kWord, 15);
}

int ServoFamilyA::readSpeed(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentSpeed,
                                 Width::kWord, 15);
}

int ServoFamilyA::readLoad(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentLoad,
                                 Width::kWord, 10);
}

int ServoFamilyA::readVoltage(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentVoltage,
                                 Width::kByte, -1);
}

int ServoFamilyA::readTemperature(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id,
                                 servo_reg::kPresentTemperature, Width::kByte, -1);
}

int ServoFamilyA::readMoving(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kMoving,
                                 Width::kByte, -1);
}

int ServoFamilyA::readCurrent(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentCurrent,
                                 Width::kWord, 15);
}
