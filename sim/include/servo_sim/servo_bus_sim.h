#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "servo_sim/frame_parser.h"
#include "servo_sim/sim_servo.h"

namespace servo_sim {

struct SimOptions {
  // Emulate 1 Mbaud: 10 µs per byte for the request and for the reply.
  bool wire_time = false;
  // Turnaround of every servo between request and reply.
  uint32_t reply_delay_us = 0;
  // When set, a symlink to the slave side is made here (replacing an old symlink).
  std::string link_path;
  MotionParams motion;
  // The frame log keeps at most this many frames, dropping the oldest.
  size_t frame_log_limit = 100000;
};

// Faults of one servo; they apply to every reply it would give.
struct ServoFaults {
  bool silent = false;            // never answers (it still obeys the frames)
  uint32_t late_reply_us = 0;     // answers this much later than usual
  int cut_reply_to = -1;          // >= 0: only the first N bytes of each reply go out
  bool bad_checksum = false;      // reply checksum inverted
  int wrong_id = -1;              // 0..253: replies under this id (checksum matches it)
  uint8_t error_byte = 0;         // error byte of every status reply
  std::vector<uint8_t> noise;     // bytes sent just before each reply
  bool hang_up = false;           // the next frame to this servo hangs the pty up instead (once)
  int remaining = -1;             // replies the faults last for; -1 until cleared
  int only_read_at = -1;          // >= 0: only replies to reads from this register are touched
  int position_offset = 0;        // added to the present position a reply carries (a garbled reading)
  int speed_offset = 0;           // added to the present speed a reply carries
  bool stuck = false;             // the shaft does not move, whatever its goal (a blocked joint)
  // Registered goal writes (from register 41) are taken and answered, but an ACTION does not
  // carry them out (a servo in its own protection, a flaky receive line).
  bool ignore_goals = false;
  uint32_t reply_byte_us = 0;     // > 0: each byte of a reply takes this long on the wire (a slow line)
};

// How late replies left against their emulated due time: what the simulator
// itself adds to a measured bus transaction.
struct ReplyTiming {
  uint64_t replies = 0;
  double mean_late_us = 0.0;
  double p50_late_us = 0.0;  // over the most recent replies
  double max_late_us = 0.0;
};

// What a test sees of one servo.
struct ServoSnapshot {
  bool exists = false;
  bool torque_on = false;
  int position = 0;      // present position, decoded
  int speed = 0;         // present speed, decoded
  int load = 0;          // present load, decoded (sign bit 10)
  int current = 0;       // present current, decoded
  int moving = 0;
  int goal = 0;          // goal position, decoded
  bool registered_pending = false;
  int calibrations = 0;  // calibration writes carried out
  int actions = 0;       // registered writes carried out
};

// A bus of simulated family A servos behind a pseudo-terminal. Open the
// slave path with ordinary serial code; the simulator's thread reads the
// master side, answers like the servos would, and moves them toward their
// goals. Every accessor is safe to call while that thread runs.
class ServoBusSim {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ServoBusSim(SimOptions options = SimOptions());
  ~ServoBusSim();
  ServoBusSim(const ServoBusSim&) = delete;
  ServoBusSim& operator=(const ServoBusSim&) = delete;

  // Opens a raw pty, makes the link when asked, starts the thread. False on
  // failure, with the reason on standard error.
  bool start();
  // Stops the thread, closes the pty and removes the link we made.
  void stop();
  bool running() const { return running_.load(); }

  const std::string& slavePath() const { return slave_path_; }
  const std::string& linkPath() const { return options_.link_path; }

  // Servo ids 0..253; false for the broadcast id or an id already present.
  bool addServo(uint8_t id, uint16_t position = kMiddlePosition);
  bool hasServo(uint8_t id) const;

  // Raw register access; -1 (or false) for an unknown servo.
  int reg(uint8_t id, uint8_t addr) const;
  int regWord(uint8_t id, uint8_t addr) const;
  bool setReg(uint8_t id, uint8_t addr, uint8_t value);
  bool setRegWord(uint8_t id, uint8_t addr, uint16_t value);
  ServoSnapshot servo(uint8_t id) const;

  void setFaults(uint8_t id, const ServoFaults& faults);
  void clearFaults(uint8_t id);
  // Closes the master side now: the slave sees a hang-up. Call it from the
  // thread that starts and stops the simulator.
  void hangUp();
  bool hungUp() const { return hung_up_.load(); }

  // Frames received so far (the newest frame_log_limit of them), oldest first.
  std::vector<Frame> frames() const;
  // Only the frames numbered `first` onwards (numbering as frameCount), for cheap polling.
  std::vector<Frame> framesFrom(size_t first) const;
  // Frames received since start or the last clearFrames, including dropped ones.
  size_t frameCount() const;
  void clearFrames();
  bool waitForFrames(size_t count, std::chrono::milliseconds timeout) const;
  // Replies (or reply fragments) written to the bus.
  uint64_t repliesSent() const { return replies_sent_.load(); }
  ReplyTiming replyTiming() const;
  void resetReplyTiming();

 private:
  struct Pending {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
    bool hang_up = false;
  };

  void run();
  void handleFrame(const Frame& frame, Clock::time_point now);
  // read_from: the register a read started at, or -1 for other replies.
  void reply(SimServo& servo, uint8_t error, const uint8_t* params, size_t n,
             Clock::time_point ready, Clock::time_point* chain, int read_from = -1);
  void advanceMotion(Clock::time_point now);
  // ACTION for one servo, as its faults let it act.
  void act(SimServo& servo);
  // A read's data as a faulty servo would report it.
  void garble(uint8_t id, uint8_t from, size_t len, uint8_t* data) const;
  void flushDue(Clock::time_point now);
  void closePty();

  SimOptions options_;
  std::string slave_path_;
  bool link_made_ = false;
  int master_fd_ = -1;
  int slave_fd_ = -1;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> hung_up_{false};
  std::atomic<bool> hang_request_{false};
  std::atomic<uint64_t> replies_sent_{0};

  mutable std::mutex mtx_;  // guards everything below
  std::map<uint8_t, SimServo> servos_;
  std::map<uint8_t, ServoFaults> faults_;
  std::deque<Frame> log_;
  size_t frame_count_ = 0;
  std::vector<Pending> pending_;  // replies waiting for their time, in due order
  Clock::time_point last_motion_{};
  double late_sum_us_ = 0.0;
  double late_max_us_ = 0.0;
  uint64_t late_count_ = 0;
  std::vector<float> late_recent_;  // ring of the latest lateness samples

  FrameParser parser_;  // the thread's own
};

}  // namespace servo_sim
