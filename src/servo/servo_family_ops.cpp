#include "servo_family_ops.h"

#include "servo/servo_registers.h"

namespace servo_family {

namespace {

constexpr int kPositionBlockA = 7;  // acc, position, time, speed
constexpr int kPositionBlockD = 6;  // position, time, speed
constexpr int kMaxServos = 255;

void putPositionBlockA(BusSerial& bus, uint8_t* block, uint8_t acc, uint16_t position,
                       uint16_t speed) {
  block[0] = acc;
  bus.splitWord(&block[1], &block[2], position);
  bus.splitWord(&block[3], &block[4], 0);
  bus.splitWord(&block[5], &block[6], speed);
}

void putPositionBlockD(BusSerial& bus, uint8_t* block, uint16_t position, uint16_t time,
                       uint16_t speed) {
  bus.splitWord(&block[0], &block[1], position);
  bus.splitWord(&block[2], &block[3], time);
  bus.splitWord(&block[4], &block[5], speed);
}

}  // namespace

uint16_t encodeSigned(int value, int sign_bit) {
  if (value >= 0) return static_cast<uint16_t>(value);
  return static_cast<uint16_t>(-value | (1 << sign_bit));
}

int decodeSigned(int raw, int sign_bit) {
  if ((raw & (1 << sign_bit)) == 0) return raw;
  return -(raw & ~(1 << sign_bit));
}

int writePositionAt41(BusSerial& bus, bool deferred, uint8_t id, int16_t position,
                      uint16_t speed, uint8_t acc) {
  uint8_t block[kPositionBlockA];
  putPositionBlockA(bus, block, acc, encodeSigned(position, 15), speed);
  if (deferred) return bus.writeRegsDeferred(id, servo_reg::kAcceleration, block, kPositionBlockA);
  return bus.writeRegs(id, servo_reg::kAcceleration, block, kPositionBlockA);
}

int writePositionAt42(BusSerial& bus, bool deferred, uint8_t id, uint16_t position,
                      uint16_t time, uint16_t speed) {
  uint8_t block[kPositionBlockD];
  putPositionBlockD(bus, block, position, time, speed);
  if (deferred) return bus.writeRegsDeferred(id, servo_reg::kGoalPosition, block, kPositionBlockD);
  return bus.writeRegs(id, servo_reg::kGoalPosition, block, kPositionBlockD);
}

void syncWritePositionsAt41(BusSerial& bus, const uint8_t* ids, uint8_t n, int16_t* positions,
                            const uint16_t* speeds, const uint8_t* accs) {
  if (ids == nullptr || positions == nullptr) return;
  uint8_t block[kMaxServos * kPositionBlockA];
  for (int i = 0; i < n; ++i) {
    const uint16_t encoded = encodeSigned(positions[i], 15);
    // The caller's array holds the form that went on the bus.
    positions[i] = static_cast<int16_t>(encoded);
    putPositionBlockA(bus, block + i * kPositionBlockA, accs ? accs[i] : 0, encoded,
                      speeds ? speeds[i] : 0);
  }
  bus.writeRegsSync(ids, n, servo_reg::kAcceleration, block, kPositionBlockA);
}

void syncWritePositionsAt42(BusSerial& bus, const uint8_t* ids, uint8_t n,
                            const uint16_t* positions, const uint16_t* times,
                            const uint16_t* speeds) {
  if (ids == nullptr || positions == nullptr) return;
  uint8_t block[kMaxServos * kPositionBlockD];
  for (int i = 0; i < n; ++i) {
    putPositionBlockD(bus, block + i * kPositionBlockD, positions[i], times ? times[i] : 0,
                      speeds ? speeds[i] : 0);
  }
  bus.writeRegsSync(ids, n, servo_reg::kGoalPosition, block, kPositionBlockD);
}

int writeSignedWord(BusSerial& bus, uint8_t id, uint8_t addr, int value, int sign_bit) {
  uint8_t bytes[2];
  bus.splitWord(&bytes[0], &bytes[1], encodeSigned(value, sign_bit));
  return bus.writeRegs(id, addr, bytes, 2);
}

int writeWheelSpeed(BusSerial& bus, uint8_t id, int16_t speed, uint8_t acc) {
  bus.writeRegs(id, servo_reg::kAcceleration, &acc, 1);
  return writeSignedWord(bus, id, servo_reg::kGoalSpeed, speed, 15);
}

int readFeedback(BusSerial& bus, uint8_t* cache, int id) {
  const int got = bus.readRegs(static_cast<uint8_t>(id), servo_reg::kPresentPosition, cache,
                               servo_reg::kFeedbackLen);
  if (got == servo_reg::kFeedbackLen) {
    bus.error_ = 0;
    return servo_reg::kFeedbackLen;
  }
  bus.error_ = 1;
  return -1;
}

int readValue(BusSerial& bus, const uint8_t* cache, bool cache_high_first, int id, uint8_t reg,
              Width width, int sign_bit) {
  int raw;
  if (id == -1) {
    const uint8_t* at = cache + (reg - servo_reg::kPresentPosition);
    if (width == Width::kByte) {
      raw = at[0];
    } else {
      raw = cache_high_first ? at[0] * 256 + at[1] : at[1] * 256 + at[0];
    }
  } else {
    bus.error_ = 0;
    const uint8_t servo_id = static_cast<uint8_t>(id);
    raw = width == Width::kByte ? bus.readRegByte(servo_id, reg) : bus.readRegWord(servo_id, reg);
    if (raw == -1) {
      bus.error_ = 1;
      return -1;
    }
  }
  // After a failed feedback read the stale cache is returned as it stands.
  if (sign_bit >= 0 && bus.error_ == 0) return decodeSigned(raw, sign_bit);
  return raw;
}

}  // namespace servo_family
