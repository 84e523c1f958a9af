#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "servo/servo_family_a.h"
#include "servo/servo_state.h"

namespace servo {

// Sole owner of the servo bus. Every 5 ms pass it reads each registered
// servo's feedback and torque state into its ServoState, keeps the torque
// switch as wanted, sends the goal as a registered write (or runs a pending
// calibration), and ends with one broadcast ACTION so all goals start together.
class ServoBusThread : public ServoFamilyA {
 public:
  using ServoMap = std::unordered_map<uint32_t, ServoState*>;

  // The process-wide bus on the compiled-in device, started on first use.
  // It is never destroyed, so its worker serves for the life of the process.
  // Ends the process with kPortHeldStatus when another process holds the port.
  static ServoBusThread* getInstance();

  // Opens the port; no worker runs until start (tests run passes by hand).
  explicit ServoBusThread(const char* device);
  // Stops the worker, waits for the pass under way, then closes the port.
  ~ServoBusThread() override;

  // Starts the worker on run; later calls do nothing.
  void start();

  // The block must outlive the bus: there is no way to withdraw it.
  void registerServo(uint32_t id, ServoState* state);
  // The worker's loop: passes until the owner is destroyed.
  void run();
  // The position is only meaningful until the next registration.
  ServoMap::iterator findServo(uint32_t id);
  void getServoState(uint32_t id, ServoFeedback* out);
  // One pass over every registered servo, closed by the broadcast ACTION.
  void servePass();

  static constexpr int kBaud = 1000000;
  static constexpr int kPortHeldStatus = 1;
  static constexpr unsigned kPassSleepUs = 5000;
  // A torque reading of 0 from a servo confirmed on counts only when this
  // many passes in a row read it.
  static constexpr uint8_t kTorqueOffReads = 2;
  // A position reading is trusted only within what the servo can move since
  // the last trusted one: its top speed (about 300 degrees/s) with half again
  // as margin, plus a few steps of reading noise. One garbled reply that
  // passes the checksum then never moves a joint.
  static constexpr double kServoTopSpeed = 3400.0;  // steps/s
  static constexpr double kPlausibleSpeedMargin = 1.5;
  static constexpr double kPlausibleNoiseSteps = 8.0;
  static bool plausibleMove(int from, int to, int64_t elapsed_us);
  // How long ago the goals were sent that a servo following them may show in its trusted reading
  // now: the last one sent before the reading (carried out at that pass's ACTION), short of the way
  // from the one before it, sent up to two pass periods earlier, which a servo at least twice as
  // fast as any planned speed makes up within as long again. So: the time since that goal went
  // out, plus two of the longest pass periods of late. -1 without a goal sent before a trusted
  // reading; the caller holds state.mtx.
  static int64_t readingLagUs(const ServoState& state, int64_t now_us);
  static constexpr int64_t kCatchUpPasses = 2;
  // A pass period is remembered for one to two of these windows.
  static constexpr int64_t kPassWindowUs = 1000000;
  static int64_t steadyUs();
  // The clock that times the readings, in microseconds; a seam for tests.
  int64_t (*clock_us_)() = &ServoBusThread::steadyUs;

 private:
  void serveServo(uint32_t id, ServoState* state);
  // Times the pass starting now against the one before it.
  void notePassStart(int64_t now_us);
  enum class Trust {
    kTrusted,      // taken as the servo's position
    kImplausible,  // further from the last trusted one than the servo can move
    kUnconfirmed,  // back from silence, not yet confirmed by a second reading
  };
  // Whether a position read now may be taken as the servo's; the caller holds state->mtx.
  static Trust trustReading(ServoState* state, int position, int64_t asked_us, int64_t now_us);
  void switchTorque(uint8_t bus_id, bool on, bool trusted, int position);
  ServoState* lookupServo(uint32_t id);

  std::thread worker_;
  ServoMap servos_;
  std::mutex map_mtx_;
  std::atomic<bool> stop_{false};
  // Passes begun; stamps each servo's readings.
  uint32_t pass_ = 0;
  // Start of the pass under way, and the longest pass periods of the current and the last window.
  int64_t pass_start_us_ = 0;
  int64_t window_start_us_ = 0;
  int64_t window_longest_us_ = 0;
  int64_t last_window_longest_us_ = 0;
  // The worker's copy of the map for the pass under way.
  std::vector<std::pair<uint32_t, ServoState*>> pass_entries_;
};

}  // namespace servo
