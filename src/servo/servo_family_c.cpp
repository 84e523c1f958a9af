#include "servo_family_c.h"

#include "servo_family_ops.h"

using servo_family::Width;

namespace {
constexpr uint8_t kLowByteFirst = 0;
}  // namespace

ServoFamilyC::ServoFamilyC() { byte_order_ = kLowByteFirst; }

ServoFamilyC::ServoFamilyC(uint8_t byte_order) : BusSerial(byte_order) {}

ServoFamilyC::ServoFamilyC(uint8_t byte_order, uint8_t reply_level) : BusSerial(byte_order, reply_level) {}

int ServoFamilyC::writePosition(uint8_t id, int16_t position, uint16_t speed, uint8_t acc) {
  return servo_family::writePositionAt41(*this, false, id, position, speed, acc);
}

int ServoFamilyC::writePositionDeferred(uint8_t id, int16_t position, uint16_t speed, uint8_t acc) {
  return servo_family::writePositionAt41(*this, true, id, position, speed, acc);
}

void ServoFamilyC::syncWritePositions(const uint8_t* ids, uint8_t n, int16_t* positions,
                                     const uint16_t* speeds, const uint8_t* accs) {
  servo_family::syncWritePositionsAt41(*this, ids, n, positions, speeds, accs);
}

int ServoFamilyC::setWheelMode(uint8_t id) { return writeRegByte(id, servo_reg::kModeC, 1); }

int ServoFamilyC::writeWheelSpeed(uint8_t id, int16_t speed, uint8_t acc) {
  return servo_family::writeWheelSpeed(*this, id, speed, acc);
}

int ServoFamilyC::setTorqueEnable(uint8_t id, uint8_t enable) {
  return writeRegByte(id, servo_reg::kTorqueEnable, enable);
}

int ServoFamilyC::unlockEeprom(uint8_t id) { return writeRegByte(id, servo_reg::kEepromLockCD, 0); }

int ServoFamilyC::lockEeprom(uint8_t id) { return writeRegByte(id, servo_reg::kEepromLockCD, 1); }

int ServoFamilyC::calibrateMiddle(uint8_t id) {
  return writeRegByte(id, servo_reg::kTorqueEnable, servo_reg::kCalibrateMiddle);
}

int ServoFamilyC::readFeedback(int id) {
  return servo_family::readFeedback(*this, feedback_cache_, id);
}

int ServoFamilyC::readPosition(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentPosition,
                                 Width::kWord, 15);
}

int ServoFamilyC::readSpeed(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentSpeed,
                                 Width::kWord, 15);
}

int ServoFamilyC::readLoad(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentLoad,
                                 Width::kWord, 10);
}

int ServoFamilyC::readVoltage(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentVoltage,
                                 Width::kByte, -1);
}

int ServoFamilyC::readTemperature(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id,
                                 servo_reg::kPresentTemperature, Width::kByte, -1);
}

int ServoFamilyC::readMoving(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kMoving,
                                 Width::kByte, -1);
}

int ServoFamilyC::readCurrent(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentCurrent,
                                 Width::kWord, 15);
}
