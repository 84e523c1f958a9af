#include "servo/servo_bus_thread.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "arm_build_config.h"
#include "servo_family_ops.h"
#include "servo/servo_registers.h"

namespace servo {

namespace {

constexpr const char* kRed = "\033[1;31m";
constexpr const char* kReset = "\033[0m";
constexpr int kPositionSignBit = 15;

}  // namespace

ServoBusThread* ServoBusThread::getInstance() {
  static ServoBusThread* instance = [] {
    auto* bus = new ServoBusThread(arm_build_config::kServoBusDevice);
    // A second controller on a bus in use would fight the first for its servos:
    // it ends before its worker sends a single frame.
    if (bus->heldElsewhere()) {
      fprintf(stderr, "The servo port %s is held by another process.\n", arm_build_config::kServoBusDevice);
      fflush(stdout);
      fflush(stderr);
      _exit(kPortHeldStatus);  // as a failed server start: other threads (DDS) are live
    }
    bus->start();
    return bus;
  }();
  return instance;
}

ServoBusThread::ServoBusThread(const char* device) {
  // Without a port every read times out and each servo is reported offline.
  openPort(kBaud, device);
}

ServoBusThread::~ServoBusThread() {
  stop_.store(true);
  if (worker_.joinable()) worker_.join();
  closePort();
}

void ServoBusThread::start() {
  if (worker_.joinable()) return;
  worker_ = std::thread(&ServoBusThread::run, this);
}

void ServoBusThread::registerServo(uint32_t id, ServoState* state) {
  {
    std::lock_guard<std::mutex> lock(map_mtx_);
    servos_[id] = state;
  }
  printf("servo id:%d init...\n", static_cast<int>(id));
  fflush(stdout);
}

void ServoBusThread::run() {
  // The default 50 us timer slack would stretch every 5 ms pass sleep.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  while (!stop_.load(std::memory_order_relaxed)) {
    servePass();
    usleep(kPassSleepUs);
  }
}

void ServoBusThread::servePass() {
  {
    // Copied so that registrations during the pass cannot disturb the walk.
    std::lock_guard<std::mutex> lock(map_mtx_);
    pass_entries_.assign(servos_.begin(), servos_.end());
  }
  // 0 stands for never in the servo blocks.
  if (++pass_ == 0) pass_ = 1;
  notePassStart(clock_us_());
  for (const auto& entry : pass_entries_) serveServo(entry.first, entry.second);
  triggerAction(kBroadcastId);
}

void ServoBusThread::notePassStart(int64_t now_us) {
  if (pass_start_us_ != 0) {
    if (now_us - window_start_us_ >= kPassWindowUs) {
      last_window_longest_us_ = window_longest_us_;
      window_longest_us_ = 0;
      window_start_us_ = now_us;
    }
    window_longest_us_ = std::max(window_longest_us_, now_us - pass_start_us_);
  }
  pass_start_us_ = now_us;
}

int64_t ServoBusThread::readingLagUs(const ServoState& state, int64_t now_us) {
  if (state.reading_goal_us == 0) return -1;
  return now_us - state.reading_goal_us + kCatchUpPasses * state.longest_pass_us;
}

bool ServoBusThread::plausibleMove(int from, int to, int64_t elapsed_us) {
  const double reach = kServoTopSpeed * kPlausibleSpeedMargin * static_cast<double>(elapsed_us) / 1e6;
  return std::abs(to - from) <= reach + kPlausibleNoiseSteps;
}

int64_t ServoBusThread::steadyUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ServoBusThread::Trust ServoBusThread::trustReading(ServoState* state, int position, int64_t asked_us,
                                                   int64_t now_us) {
  Trust trust = Trust::kTrusted;
  if (state->trusted_us != 0 && !plausibleMove(state->position, position, now_us - state->trusted_us)) {
    trust = Trust::kImplausible;
  } else if (state->trusted_us != 0 && state->feedback_missed >= kMissedReadsOffline &&
             (state->received_us == 0 ||
              !plausibleMove(state->received_position, position, now_us - state->received_us))) {
    // Back from silence, two readings must agree before either is taken.
    trust = Trust::kUnconfirmed;
  }
  state->received_position = position;
  state->received_us = asked_us;
  if (trust == Trust::kTrusted) state->trusted_us = asked_us;
  return trust;
}

void ServoBusThread::serveServo(uint32_t id, ServoState* state) {
  const uint8_t bus_id = static_cast<uint8_t>(id);
  // The reading was taken between asking and answering: measuring from the
  // asking of the last trusted one never understates how far it could move.
  const int64_t asked_us = clock_us_();
  const bool answered = readFeedback(bus_id) != -1;
  const int64_t answered_us = clock_us_();
  Trust trust = Trust::kUnconfirmed;
  int position = 0;
  int last_trusted = 0;
  {
    const int read_position = answered ? readPosition(-1) : 0;
    std::lock_guard<std::mutex> lock(state->mtx);
    state->served_pass = pass_;
    state->longest_pass_us = std::max(window_longest_us_, last_window_longest_us_);
    if (answered) {
      trust = trustReading(state, read_position, asked_us, answered_us);
      last_trusted = state->position;
    } else {
      state->received_us = 0;
    }
    if (trust == Trust::kTrusted) {
      position = read_position;
      state->position = position;
      state->speed = readSpeed(-1);
      state->load = readLoad(-1);
      state->voltage = readVoltage(-1);
      state->temperature = readTemperature(-1);
      state->moving = readMoving(-1);
      state->current = readCurrent(-1);
      state->feedback_pass = pass_;
      state->feedback_missed = 0;
      state->reading_goal_us = state->goal_sent_us;
    } else if (state->feedback_missed < kMissedReadsOffline) {
      ++state->feedback_missed;
    }
  }
  const bool trusted = trust == Trust::kTrusted;
  if (trust == Trust::kImplausible) {
    printf("%sservo nodeid:%d position %d is not plausible after %d!%s\n", kRed, static_cast<int>(id),
           readPosition(-1), last_trusted, kReset);
  }

  bool calibrate;
  {
    std::lock_guard<std::mutex> lock(state->mtx);
    calibrate = state->calibrate != 0;
  }

  if (calibrate) {
    if (writeRegByte(bus_id, servo_reg::kTorqueEnable, servo_reg::kCalibrateMiddle) > 0) {
      std::lock_guard<std::mutex> lock(state->mtx);
      state->calibrate = 0;
      // The present position now reads the middle: nothing to compare with.
      state->trusted_us = 0;
    }
    return;
  }

  const int torque = readRegByte(bus_id, servo_reg::kTorqueEnable);
  const uint8_t error_byte = status_;
  uint8_t want_enable, enabled, goal_valid, acc;
  uint16_t goal_position, goal_speed;
  bool unconfirmed = false;
  bool cut = false;
  {
    std::lock_guard<std::mutex> lock(state->mtx);
    if (torque != -1) {
      state->missed_reads = 0;
      if (torque != 0 || state->enabled == 0) {
        state->enabled = torque != 0 ? 1 : 0;
        state->torque_off_reads = 0;
      } else if (++state->torque_off_reads < kTorqueOffReads) {
        // One reading of 0 from a servo confirmed on acts on nothing.
        unconfirmed = true;
        state->torque_off_unasked = state->want_enable;
      } else {
        state->enabled = 0;
        state->torque_off_reads = 0;
        // Dropped by the servo itself (its protection) while torque was
        // wanted throughout: it stays off until the next serve-on asks again.
        cut = state->torque_off_unasked != 0 && state->want_enable != 0;
        if (cut) state->want_enable = 0;
      }
    } else if (state->missed_reads < kMissedReadsOffline) {
      ++state->missed_reads;
    }
    state->online = state->missed_reads < kMissedReadsOffline &&
                    state->feedback_missed < kMissedReadsOffline;
    want_enable = state->want_enable;
    enabled = state->enabled;
    goal_valid = state->goal_valid;
    goal_position = state->goal_position;
    goal_speed = state->goal_speed;
    acc = state->acc;
    // Stamped a little before it goes out: never taken for younger than it is.
    if (want_enable != 0 && goal_valid != 0) state->goal_sent_us = clock_us_();
  }
  if (torque == -1) printf("%sservo nodeid:%d read error!%s\n", kRed, static_cast<int>(id), kReset);
  if (cut) {
    printf("%sservo nodeid:%d turned its torque off by itself, error byte 0x%02X!%s\n", kRed,
           static_cast<int>(id), error_byte, kReset);
  }

  if (!unconfirmed && (want_enable != 0) != (enabled != 0)) {
    printf("need set motor %s.\n", want_enable != 0 ? "true" : "flase");
    switchTorque(bus_id, want_enable != 0, trusted, position);
  }
  if (want_enable != 0 && goal_valid != 0) {
    writePositionDeferred(bus_id, static_cast<int16_t>(goal_position), goal_speed, acc);
  }
}

void ServoBusThread::switchTorque(uint8_t bus_id, bool on, bool trusted, int position) {
  // A servo keeps its old goal while off, and the joint may have been moved by
  // hand: first it is told to hold where it stands (both registers count the
  // same steps). Without this pass's trusted reading or an acknowledged goal,
  // wait a pass.
  if (on && (!trusted || servo_family::writeSignedWord(*this, bus_id, servo_reg::kGoalPosition,
                                                       position, kPositionSignBit) <= 0)) {
    return;
  }
  writeRegByte(bus_id, servo_reg::kTorqueEnable, on ? 1 : 0);
}

ServoBusThread::ServoMap::iterator ServoBusThread::findServo(uint32_t id) {
  std::unique_lock<std::mutex> lock(map_mtx_, std::try_to_lock);
  if (!lock.owns_lock()) return servos_.end();
  return servos_.find(id);
}

ServoState* ServoBusThread::lookupServo(uint32_t id) {
  std::unique_lock<std::mutex> lock(map_mtx_, std::try_to_lock);
  if (!lock.owns_lock()) return nullptr;
  const auto it = servos_.find(id);
  return it == servos_.end() ? nullptr : it->second;
}

void ServoBusThread::getServoState(uint32_t id, ServoFeedback* out) {
  ServoState* state = lookupServo(id);
  if (state == nullptr) {
    printf("%sservo nodeid:%d not exit!%s\n", kRed, static_cast<int>(id), kReset);
    return;
  }
  if (out == nullptr) return;
  std::unique_lock<std::mutex> lock(state->mtx, std::try_to_lock);
  if (!lock.owns_lock()) return;
  fillServoFeedback(*state, out);
}

}  // namespace servo
