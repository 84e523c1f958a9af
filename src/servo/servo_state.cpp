#include "servo/servo_state.h"

void resetServoState(ServoState& state) {
  state.id = 0;
  state.position = 0;
  state.speed = 0;
  state.load = 0;
  state.voltage = 0;
  state.temperature = 0;
  state.moving = 0;
  state.current = 0;
  state.enabled = 0;
  state.online = 0;
  state.goal_position = 0;
  state.goal_speed = 0;
  state.goal_valid = 0;
  state.want_enable = 0;
  state.calibrate = 0;
  state.acc = 0;
  state.missed_reads = kMissedReadsOffline;
  state.feedback_missed = kMissedReadsOffline;
  state.torque_off_reads = 0;
  state.torque_off_unasked = 0;
  state.served_pass = 0;
  state.feedback_pass = 0;
  state.trusted_us = 0;
  state.received_position = 0;
  state.received_us = 0;
  state.goal_sent_us = 0;
  state.reading_goal_us = 0;
  state.longest_pass_us = 0;
}

void fillServoFeedback(const ServoState& state, ServoFeedback* out) {
  out->angle = static_cast<float>(state.position * kServoDegreesPerStep - kServoAngleOffsetDeg);
  out->speed = static_cast<float>(state.speed * kServoDegPerSecPerUnit);
  out->load = state.load;
  out->voltage = state.voltage;
  out->temperature = state.temperature;
  out->moving = state.moving;
  out->current = state.current;
  out->enabled = state.enabled;
  out->online = state.online;
}
