#include "servo/servo_bus_thread.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>

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
  for (const auto& entry : pass_entries_) serveServo(entry.first, entry.second);
  triggerAction(kBroadcastId);
}

void ServoBusThread::serveServo(uint32_t id, ServoState* state) {
  const uint8_t bus_id = static_cast<uint8_t>(id);
  const bool fresh_feedback = readFeedback(bus_id) != -1;
  int position = 0;
  if (fresh_feedback) {
    position = readPosition(-1);
    const int speed = readSpeed(-1);
    const int load = readLoad(-1);
    const int voltage = readVoltage(-1);
    const int temperature = readTemperature(-1);
    const int moving = readMoving(-1);
    const int current = readCurrent(-1);
    std::lock_guard<std::mutex> lock(state->mtx);
    state->position = position;
    state->speed = speed;
    state->load = load;
    state->voltage = voltage;
    state->temperature = temperature;
    state->moving = moving;
    state->current = current;
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
    }
    return;
  }

  const int torque = readRegByte(bus_id, servo_reg::kTorqueEnable);
  uint8_t want_enable, enabled, goal_valid, acc;
  uint16_t goal_position, goal_speed;
  {
    std::lock_guard<std::mutex> lock(state->mtx);
    if (torque != -1) {
      state->enabled = torque != 0 ? 1 : 0;
      state->online = 1;
      state->missed_reads = 0;
    } else {
      if (state->missed_reads < kMissedReadsOffline) ++state->missed_reads;
      if (state->missed_reads == kMissedReadsOffline) state->online = 0;
    }
    want_enable = state->want_enable;
    enabled = state->enabled;
    goal_valid = state->goal_valid;
    goal_position = state->goal_position;
    goal_speed = state->goal_speed;
    acc = state->acc;
  }
  if (torque == -1) printf("%sservo nodeid:%d read error!%s\n", kRed, static_cast<int>(id), kReset);

  if ((want_enable != 0) != (enabled != 0)) {
    printf("need set motor %s.\n", want_enable != 0 ? "true" : "flase");
    switchTorque(bus_id, want_enable != 0, fresh_feedback, position);
  }
  if (want_enable != 0 && goal_valid != 0) {
    writePositionDeferred(bus_id, static_cast<int16_t>(goal_position), goal_speed, acc);
  }
}

void ServoBusThread::switchTorque(uint8_t bus_id, bool on, bool fresh_feedback, int position) {
  // A servo keeps its old goal while off, and the joint may have been moved by
  // hand: first it is told to hold where it stands (both registers count the
  // same steps). Without this pass's reading or an acknowledged goal, wait a pass.
  if (on && (!fresh_feedback || servo_family::writeSignedWord(*this, bus_id, servo_reg::kGoalPosition,
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
