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
  // A single lost reply under load must not read as a servo gone: only this
  // many failed register-40 reads in a row take a servo offline.
  static constexpr uint8_t kMissedReadsOffline = 3;

 private:
  void serveServo(uint32_t id, ServoState* state);
  void switchTorque(uint8_t bus_id, bool on, bool fresh_feedback, int position);
  ServoState* lookupServo(uint32_t id);

  std::thread worker_;
  ServoMap servos_;
  std::mutex map_mtx_;
  std::atomic<bool> stop_{false};
  // The worker's copy of the map for the pass under way.
  std::vector<std::pair<uint32_t, ServoState*>> pass_entries_;
};

}  // namespace servo
