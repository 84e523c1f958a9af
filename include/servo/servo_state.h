#pragma once

#include <cstdint>
#include <mutex>

// A single lost or implausible reply under load must not read as a servo
// gone: only this many failed register-40 or feedback reads in a row take a
// servo offline. A block starts offline (both counts at this value).
constexpr uint8_t kMissedReadsOffline = 3;

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
  // Kept by the bus thread alone: how far the readings above can be trusted.
  // Register-40 reads failed in a row.
  uint8_t missed_reads = kMissedReadsOffline;
  // Feedback reads failed or not plausible in a row.
  uint8_t feedback_missed = kMissedReadsOffline;
  // Register-40 readings of 0 in a row while enabled holds 1, and whether
  // torque was wanted at the first of them.
  uint8_t torque_off_reads = 0;
  uint8_t torque_off_unasked = 0;
  // The last bus pass that served this servo, and the pass whose reading
  // position and speed hold: equal when they were read in the latest pass.
  uint32_t served_pass = 0;
  uint32_t feedback_pass = 0;
  // When position was last trusted (steady clock, microseconds); 0: never
  // since registration or a calibration, so the next reading is taken as is.
  int64_t trusted_us = 0;
  // The last reading received, trusted or not, and when; 0: the last read failed.
  int32_t received_position = 0;
  int64_t received_us = 0;
  // When the last goal was sent, and when the last goal sent before the trusted reading was
  // (0: none); the longest bus pass period of late, as of this servo's last service.
  int64_t goal_sent_us = 0;
  int64_t reading_goal_us = 0;
  int64_t longest_pass_us = 0;
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
