#include "servo/servo_family_low_first.h"

#include "servo_family_ops.h"

using servo_family::Width;

namespace {
constexpr uint8_t kLowByteFirst = 0;
}  // namespace

template <uint8_t kModeReg, uint8_t kEepromLockReg>
ServoFamilyLowFirst<kModeReg, kEepromLockReg>::ServoFamilyLowFirst() {
  byte_order_ = kLowByteFirst;
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
ServoFamilyLowFirst<kModeReg, kEepromLockReg>::ServoFamilyLowFirst(uint8_t byte_order)
    : BusSerial(byte_order) {}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
ServoFamilyLowFirst<kModeReg, kEepromLockReg>::ServoFamilyLowFirst(uint8_t byte_order, uint8_t reply_level)
    : BusSerial(byte_order, reply_level) {}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::writePosition(uint8_t id, int16_t position, uint16_t speed,
                                                                 uint8_t acc) {
  return servo_family::writePositionAt41(*this, false, id, position, speed, acc);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::writePositionDeferred(uint8_t id, int16_t position,
                                                                         uint16_t speed, uint8_t acc) {
  return servo_family::writePositionAt41(*this, true, id, position, speed, acc);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
void ServoFamilyLowFirst<kModeReg, kEepromLockReg>::syncWritePositions(const uint8_t* ids, uint8_t n,
                                                                       int16_t* positions,
                                                                       const uint16_t* speeds,
                                                                       const uint8_t* accs) {
  servo_family::syncWritePositionsAt41(*this, ids, n, positions, speeds, accs);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::setWheelMode(uint8_t id) {
  return writeRegByte(id, kModeReg, 1);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::writeWheelSpeed(uint8_t id, int16_t speed, uint8_t acc) {
  return servo_family::writeWheelSpeed(*this, id, speed, acc);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::setTorqueEnable(uint8_t id, uint8_t enable) {
  return writeRegByte(id, servo_reg::kTorqueEnable, enable);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::unlockEeprom(uint8_t id) {
  return writeRegByte(id, kEepromLockReg, 0);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::lockEeprom(uint8_t id) {
  return writeRegByte(id, kEepromLockReg, 1);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::calibrateMiddle(uint8_t id) {
  return writeRegByte(id, servo_reg::kTorqueEnable, servo_reg::kCalibrateMiddle);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::readFeedback(int id) {
  return servo_family::readFeedback(*this, feedback_cache_, id);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::readPosition(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentPosition, Width::kWord,
                                 15);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::readSpeed(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentSpeed, Width::kWord,
                                 15);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::readLoad(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentLoad, Width::kWord,
                                 10);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::readVoltage(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentVoltage, Width::kByte,
                                 -1);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::readTemperature(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentTemperature,
                                 Width::kByte, -1);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::readMoving(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kMoving, Width::kByte, -1);
}

template <uint8_t kModeReg, uint8_t kEepromLockReg>
int ServoFamilyLowFirst<kModeReg, kEepromLockReg>::readCurrent(int id) {
  return servo_family::readValue(*this, feedback_cache_, false, id, servo_reg::kPresentCurrent, Width::kWord,
                                 15);
}

template class ServoFamilyLowFirst<servo_reg::kModeAB, servo_reg::kEepromLockAB>;
template class ServoFamilyLowFirst<servo_reg::kModeC, servo_reg::kEepromLockCD>;
