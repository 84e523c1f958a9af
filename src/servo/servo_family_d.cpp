#include "servo/servo_family_d.h"

#include "servo_family_ops.h"

using servo_family::Width;

namespace {
constexpr uint8_t kHighByteFirst = 1;
constexpr int kPwmSignBit = 10;
}  // namespace

ServoFamilyD::ServoFamilyD() { byte_order_ = kHighByteFirst; }

ServoFamilyD::ServoFamilyD(uint8_t byte_order) : BusSerial(byte_order) {}

ServoFamilyD::ServoFamilyD(uint8_t byte_order, uint8_t reply_level)
    : BusSerial(byte_order, reply_level) {}

int ServoFamilyD::writePosition(uint8_t id, uint16_t position, uint16_t time, uint16_t speed) {
  return servo_family::writePositionAt42(*this, false, id, position, time, speed);
}

int ServoFamilyD::writePositionDeferred(uint8_t id, uint16_t position, uint16_t time,
                                        uint16_t speed) {
  return servo_family::writePositionAt42(*this, true, id, position, time, speed);
}

void ServoFamilyD::syncWritePositions(const uint8_t* ids, uint8_t n, const uint16_t* positions,
                                      const uint16_t* times, const uint16_t* speeds) {
  servo_family::syncWritePositionsAt42(*this, ids, n, positions, times, speeds);
}

int ServoFamilyD::setPwmMode(uint8_t id) {
  const uint8_t zeros[4] = {0, 0, 0, 0};
  return writeRegs(id, servo_reg::kPwmMode, zeros, 4);
}

int ServoFamilyD::writePwm(uint8_t id, int16_t pwm) {
  return servo_family::writeSignedWord(*this, id, servo_reg::kGoalTime, pwm, kPwmSignBit);
}

int ServoFamilyD::setTorqueEnable(uint8_t id, uint8_t enable) {
  return writeRegByte(id, servo_reg::kTorqueEnable, enable);
}

int ServoFamilyD::unlockEeprom(uint8_t id) { return writeRegByte(id, servo_reg::kEepromLockCD, 0); }

int ServoFamilyD::lockEeprom(uint8_t id) { return writeRegByte(id, servo_reg::kEepromLockCD, 1); }

int ServoFamilyD::readFeedback(int id) {
  return servo_family::readFeedback(*this, feedback_cache_, id);
}

int ServoFamilyD::readPosition(int id) {
  return servo_family::readValue(*this, feedback_cache_, true, id, servo_reg::kPresentPosition,
                                 Width::kWord, -1);
}

int ServoFamilyD::readSpeed(int id) {
  return servo_family::readValue(*this, feedback_cache_, true, id, servo_reg::kPresentSpeed,
                                 Width::kWord, 15);
}

int ServoFamilyD::readLoad(int id) {
  return servo_family::readValue(*this, feedback_cache_, true, id, servo_reg::kPresentLoad,
                                 Width::kWord, 10);
}

int ServoFamilyD::readVoltage(int id) {
  return servo_family::readValue(*this, feedback_cache_, true, id, servo_reg::kPresentVoltage,
                                 Width::kByte, -1);
}

int ServoFamilyD::readTemperature(int id) {
  return servo_family::readValue(*this, feedback_cache_, true, id,
                                 servo_reg::kPresentTemperature, Width::kByte, -1);
}

int ServoFamilyD::readMoving(int id) {
  return servo_family::readValue(*this, feedback_cache_, true, id, servo_reg::kMoving,
                                 Width::kByte, -1);
}

int ServoFamilyD::readCurrent(int id) {
  return servo_family::readValue(*this, feedback_cache_, true, id, servo_reg::kPresentCurrent,
                                 Width::kWord, 15);
}
