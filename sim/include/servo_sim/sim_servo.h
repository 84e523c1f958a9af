#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace servo_sim {

// Register map of the family A servos (16-bit values low byte first).
constexpr uint8_t kRegModelNumber = 3;  // 2 bytes, read-only
constexpr uint8_t kRegTorqueEnable = 40;
constexpr uint8_t kRegAcceleration = 41;
constexpr uint8_t kRegGoalPosition = 42;
constexpr uint8_t kRegGoalTime = 44;
constexpr uint8_t kRegGoalSpeed = 46;
constexpr uint8_t kRegEepromLock = 55;
constexpr uint8_t kRegPresentPosition = 56;
constexpr uint8_t kRegPresentSpeed = 58;
constexpr uint8_t kRegPresentLoad = 60;
constexpr uint8_t kRegPresentVoltage = 62;
constexpr uint8_t kRegPresentTemperature = 63;
constexpr uint8_t kRegMoving = 66;
constexpr uint8_t kRegPresentCurrent = 69;

constexpr uint8_t kCalibrateMiddle = 128;  // written to the torque register
constexpr uint16_t kMiddlePosition = 2048;
constexpr uint16_t kModelNumberA = 777;
constexpr size_t kRegisterCount = 256;
constexpr size_t kMaxReadLen = 253;  // a status reply's length byte holds the data count + 2

// Status error bits the simulated servo raises on its own.
constexpr uint8_t kErrRange = 0x08;
constexpr uint8_t kErrInstruction = 0x40;

// How a simulated servo moves.
struct MotionParams {
  double max_speed = 3400.0;      // steps/s (about 300 °/s), used when the goal speed register is 0
  double accel_unit = 100.0;      // steps/s² per unit of the acceleration register; 0 there means no limit
  double hold_current = 8.0;      // present-current raw while holding with torque on
  double current_per_speed = 0.05;  // extra current raw per step/s
  double load_per_speed = 0.25;   // load raw (0.1 %) per step/s, capped at 1000
};

// One servo: its register file, the registered write it holds, and the
// motion toward its goal. Not thread-safe; the bus owns the locking.
class SimServo {
 public:
  SimServo(uint8_t id, uint16_t position, const MotionParams& motion);

  uint8_t id() const { return id_; }

  uint8_t reg(uint8_t addr) const { return regs_[addr]; }
  uint16_t word(uint8_t addr) const;
  // Host-side writes; present-position writes also move the shaft there.
  void setReg(uint8_t addr, uint8_t value);
  void setWord(uint8_t addr, uint16_t value);

  // Bus-side operations; the result is the error bits of the status reply.
  uint8_t write(uint8_t addr, const uint8_t* data, size_t len);
  uint8_t read(uint8_t addr, size_t len, uint8_t* out) const;
  uint8_t storeRegistered(uint8_t addr, const uint8_t* data, size_t len);
  // Carries out the stored registered write; false when none was stored.
  bool action();
  bool hasRegistered() const { return reg_pending_; }
  // Forgets the stored registered write when it starts at addr; false when none does.
  bool dropRegistered(uint8_t addr);

  // Moves the shaft by dt seconds of simulated time.
  void advance(double dt);

  bool torqueOn() const { return regs_[kRegTorqueEnable] != 0; }
  int presentPosition() const;  // sign-magnitude decoded
  int presentSpeed() const;
  int goalPosition() const;
  int calibrations() const { return calibrations_; }
  int actions() const { return actions_; }

 private:
  void setPresent(double position, double velocity);
  void calibrate();

  uint8_t id_;
  MotionParams motion_;
  std::array<uint8_t, kRegisterCount> regs_{};
  double pos_ = 0.0;  // exact shaft position in steps (the register holds it rounded)
  double vel_ = 0.0;  // steps/s
  bool reg_pending_ = false;
  uint8_t reg_addr_ = 0;
  std::vector<uint8_t> reg_data_;
  int calibrations_ = 0;
  int actions_ = 0;
};

// Sign-magnitude helpers of the bus.
int decodeSignMagnitude(uint16_t raw, int sign_bit);
uint16_t encodeSignMagnitude(int value, int sign_bit);

}  // namespace servo_sim
