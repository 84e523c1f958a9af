#include "servo_sim/sim_servo.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace servo_sim {

namespace {
constexpr uint8_t kVoltageRaw = 120;     // 12.0 V supply
constexpr uint8_t kTemperatureRaw = 32;  // °C
constexpr int kLoadSignBit = 10;
constexpr int kWordSignBit = 15;
constexpr double kLoadLimit = 1000.0;

bool readOnly(unsigned addr) {
  return addr == kRegModelNumber || addr == kRegModelNumber + 1u ||
         (addr >= kRegPresentPosition && addr <= kRegPresentCurrent + 1u);
}
}  // namespace

int decodeSignMagnitude(uint16_t raw, int sign_bit) {
  const uint16_t bit = static_cast<uint16_t>(1u << sign_bit);
  if (raw & bit) return -static_cast<int>(raw & ~bit & 0xFFFF);
  return raw;
}

uint16_t encodeSignMagnitude(int value, int sign_bit) {
  const unsigned mask = (1u << sign_bit) - 1u;
  const unsigned magnitude = std::min(static_cast<unsigned>(std::abs(value)), mask);
  return static_cast<uint16_t>(value < 0 ? (magnitude | (1u << sign_bit)) : magnitude);
}

SimServo::SimServo(uint8_t id, uint16_t position, const MotionParams& motion) : id_(id), motion_(motion) {
  setWord(kRegModelNumber, kModelNumberA);
  regs_[kRegPresentVoltage] = kVoltageRaw;
  regs_[kRegPresentTemperature] = kTemperatureRaw;
  // Powered up holding where it stands.
  setWord(kRegGoalPosition, position);
  pos_ = decodeSignMagnitude(position, kWordSignBit);
  setPresent(pos_, 0.0);
}

uint16_t SimServo::word(uint8_t addr) const {
  const uint8_t hi = addr == 0xFF ? 0 : regs_[addr + 1];
  return static_cast<uint16_t>(regs_[addr] | (hi << 8));
}

void SimServo::setReg(uint8_t addr, uint8_t value) {
  regs_[addr] = value;
  if (addr == kRegPresentPosition || addr == kRegPresentPosition + 1) {
    pos_ = decodeSignMagnitude(word(kRegPresentPosition), kWordSignBit);
  }
}

void SimServo::setWord(uint8_t addr, uint16_t value) {
  setReg(addr, static_cast<uint8_t>(value & 0xFF));
  if (addr != 0xFF) setReg(static_cast<uint8_t>(addr + 1), static_cast<uint8_t>(value >> 8));
}

uint8_t SimServo::write(uint8_t addr, const uint8_t* data, size_t len) {
  if (addr + len > kRegisterCount) return kErrRange;
  for (size_t k = 0; k < len; ++k) {
    const unsigned a = addr + k;
    if (a == kRegTorqueEnable && data[k] == kCalibrateMiddle) {
      calibrate();
      continue;
    }
    if (readOnly(a)) continue;
    regs_[a] = data[k];
  }
  return 0;
}

uint8_t SimServo::read(uint8_t addr, size_t len, uint8_t* out) const {
  if (addr + len > kRegisterCount || len > kMaxReadLen) return kErrRange;
  std::copy(regs_.begin() + addr, regs_.begin() + addr + len, out);
  return 0;
}

uint8_t SimServo::storeRegistered(uint8_t addr, const uint8_t* data, size_t len) {
  if (addr + len > kRegisterCount) return kErrRange;
  // A servo holds one registered write; a newer one replaces it.
  reg_addr_ = addr;
  reg_data_.assign(data, data + len);
  reg_pending_ = true;
  return 0;
}

bool SimServo::action() {
  if (!reg_pending_) return false;
  reg_pending_ = false;
  write(reg_addr_, reg_data_.data(), reg_data_.size());
  ++actions_;
  return true;
}

bool SimServo::dropRegistered(uint8_t addr) {
  if (!reg_pending_ || reg_addr_ != addr) return false;
  reg_pending_ = false;
  return true;
}

void SimServo::calibrate() {
  // The shaft stays put; its reading becomes the middle and it holds there.
  pos_ = kMiddlePosition;
  vel_ = 0.0;
  setWord(kRegGoalPosition, kMiddlePosition);
  setPresent(pos_, 0.0);
  ++calibrations_;
}

void SimServo::advance(double dt) {
  if (dt <= 0.0) return;
  if (!torqueOn()) {
    vel_ = 0.0;
    setPresent(pos_, 0.0);
    return;
  }
  const double goal = goalPosition();
  const double dist = goal - pos_;
  const int goal_speed = std::abs(decodeSignMagnitude(word(kRegGoalSpeed), kWordSignBit));
  const double vmax = goal_speed > 0 ? std::min<double>(goal_speed, motion_.max_speed) : motion_.max_speed;
  const double acc = regs_[kRegAcceleration] * motion_.accel_unit;
  double v_des = std::copysign(vmax, dist);
  if (acc > 0.0) {
    // Slow down in time to stop at the goal.
    v_des = std::copysign(std::min(vmax, std::sqrt(2.0 * acc * std::fabs(dist))), dist);
    const double dv = acc * dt;
    vel_ = std::clamp(v_des, vel_ - dv, vel_ + dv);
  } else {
    vel_ = v_des;
  }
  const double before = pos_;
  double step = vel_ * dt;
  if (dist == 0.0 || (std::fabs(step) >= std::fabs(dist) && std::signbit(step) == std::signbit(dist))) {
    pos_ = goal;
    vel_ = 0.0;
  } else {
    pos_ += step;
  }
  setPresent(pos_, (pos_ - before) / dt);
}

void SimServo::setPresent(double position, double velocity) {
  const int p = static_cast<int>(std::lround(position));
  const int v = static_cast<int>(std::lround(velocity));
  regs_[kRegPresentPosition] = static_cast<uint8_t>(encodeSignMagnitude(p, kWordSignBit) & 0xFF);
  regs_[kRegPresentPosition + 1] = static_cast<uint8_t>(encodeSignMagnitude(p, kWordSignBit) >> 8);
  const uint16_t speed = encodeSignMagnitude(v, kWordSignBit);
  regs_[kRegPresentSpeed] = static_cast<uint8_t>(speed & 0xFF);
  regs_[kRegPresentSpeed + 1] = static_cast<uint8_t>(speed >> 8);
  const int load_mag = static_cast<int>(std::min(kLoadLimit, std::fabs(velocity) * motion_.load_per_speed));
  const uint16_t load = encodeSignMagnitude(velocity < 0 ? -load_mag : load_mag, kLoadSignBit);
  regs_[kRegPresentLoad] = static_cast<uint8_t>(load & 0xFF);
  regs_[kRegPresentLoad + 1] = static_cast<uint8_t>(load >> 8);
  const bool on = torqueOn();
  const int current =
      on ? static_cast<int>(std::lround(motion_.hold_current + std::fabs(velocity) * motion_.current_per_speed)) : 0;
  const uint16_t cur = encodeSignMagnitude(current, kWordSignBit);
  regs_[kRegPresentCurrent] = static_cast<uint8_t>(cur & 0xFF);
  regs_[kRegPresentCurrent + 1] = static_cast<uint8_t>(cur >> 8);
  regs_[kRegMoving] = (on && (p != goalPosition() || v != 0)) ? 1 : 0;
}

int SimServo::presentPosition() const { return decodeSignMagnitude(word(kRegPresentPosition), kWordSignBit); }
int SimServo::presentSpeed() const { return decodeSignMagnitude(word(kRegPresentSpeed), kWordSignBit); }
int SimServo::goalPosition() const { return decodeSignMagnitude(word(kRegGoalPosition), kWordSignBit); }

}  // namespace servo_sim
