#pragma once

#include <cstdint>
#include <mutex>

// Present values in raw servo units and the wishes of the motor that owns the
// block; shared with the bus thread and guarded by mtx.
struct ServoState {
  uint32_t id = 0;
  int32_t position = 0;
  int32_t speed = 0;
  int32_t load = 0;
  int32_t voltage = 0;
  int32_t temperature = 0;
  int32_t moving = 0;
  int32_t current = 0;
  uint8_t enabled = 0;
  uint8_t online = 0;
  uint16_t goal_position = 0;
  uint16_t goal_speed = 0;
  uint8_t goal_valid = 0;
  uint8_t want_enable = 0;
  uint8_t calibrate = 0;
  uint8_t acc = 0;
  // Register-40 reads failed in a row; kept by the bus thread alone.
  uint8_t missed_reads = 0;
  std::mutex mtx;
};

// Read-out of one servo in degrees and raw units.
struct ServoFeedback {
  float angle = 0.0f;
  float speed = 0.0f;
  int32_t load = 0;
  int32_t voltage = 0;
  int32_t temperature = 0;
  int32_t moving = 0;
  int32_t current = 0;
  uint8_t enabled = 0;
  uint8_t online = 0;
};

// Raw servo units. Reading uses 0.088 degrees per step although writing uses
// 4096 steps per turn; the servos are read this way throughout.
constexpr double kServoDegreesPerStep = 0.088;
constexpr double kServoDegPerSecPerUnit = 0.08784;
constexpr double kServoAngleOffsetDeg = 180.0;

// Zeroes every field but the lock; the caller holds state.mtx.
void resetServoState(ServoState& state);
// Fills the read-out from the block; the caller holds state.mtx.
void fillServoFeedback(const ServoState& state, ServoFeedback* out);
