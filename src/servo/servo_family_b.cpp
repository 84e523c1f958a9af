#include "servo_family_b.h"

#include "servo_family_ops.h"

using servo_family::Width;

namespace {
constexpr uint8_t kLowByteFirst = 0;
}  // namespace

ServoFamilyB::ServoFamilyB() { byte_order_ = kLowByteFirst; }

ServoFamilyB::ServoFamilyB(uint8_t byte_order) : BusSerial(byte_order) {}

ServoFamilyB::ServoFamilyB(uint8_t byte_order, uint8_t reply_level) : BusSerial(byte_order, reply_level) {}

int ServoFamilyB::writePosition(uint8_t id, int16_t position, uint16_t speed, uint8_t acc) {
  return servo_family::writePositionAt41(*this, false, id, position, speed, acc);
}

int ServoFamilyB::writePositionDeferred(uint8_t id, int16_t position, uint16_t speed, uint8_t acc) {
  return servo_family::writePositionAt41(*this, true, id, position, speed, acc);
}

void ServoFamilyB::syncWritePositions(const uint8_t* ids, uint8_t n, int16_t* positions,
                                     const uint16_t* speeds, const uint8_t* accs) {
  servo_family::syncWritePositionsAt41(*this, ids, n, positions, speeds, accs);
}

int ServoFamilyB::setWheelMode(uint8_t id) { return writeRegByte(id, servo_reg::kModeAB, 1); }

int ServoFamilyB::writeWheelSpeed(uint8_t id, int16_t speed, uint8_t acc) {
  return servo_family::writeWheelSpeed(*this, id, speed, acc);
}

int ServoFamilyB::setTorqueEnable(uint8_t id, uint8_t enable) {
  return writeRegByte(id, servo_reg::kTorqueEnable, enable);
}

int ServoFamilyB::unlockEeprom(uint8_t id) { return writeRegByte(id, servo_reg::kEepromLockAB, 0); }

int ServoFamilyB::lockEeprom(uint8_t id) { return writeRegByte(id, servo_reg::kEepromLockAB, 1); }

int ServoFamilyB::calibrateMiddle(uint8_t id) {
  return writeRegByte(id, servo_reg::kTorqueEnable, servo_reg::kCalibrateMiddle);
}

int ServoFamilyB::readFeedback(int id) {
  return servo_family::readFeedback(*this, feedback_cache_, id);
}

int ServoFamilyB::readPosition(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentPosition,
                                 Width::kWord, 15);
}

int ServoFamilyB::readSpeed(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentSpeed,
                                 Width::kWord, 15);
}

int ServoFamilyB::readLoad(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentLoad,
                                 Width::kWord, 10);
}

int ServoFamilyB::readVoltage(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentVoltage,
                                 Width::kByte, -1);
}

int ServoFamilyB::readTemperature(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id,
                                 servo_reg::kPresentTemperature, Width::kByte, -1);
}

int ServoFamilyB::readMoving(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kMoving,
                                 Width::kByte, -1);
}

int ServoFamilyB::readCurrent(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentCurrent,
                                 Width::kWord, 15);
}
