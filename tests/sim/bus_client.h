#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "servo_sim/servo_bus_sim.h"

namespace sim_test {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// The controller's end of the simulated bus, reduced to raw bytes: a raw
// serial port on the pty slave, writes as given, reads with a deadline.
class BusClient {
 public:
  BusClient() = default;
  ~BusClient() { close(); }
  BusClient(const BusClient&) = delete;
  BusClient& operator=(const BusClient&) = delete;

  bool open(const std::string& path);
  void close();
  bool send(const Bytes& bytes);
  // Collects bytes until `count` arrived or the time is up.
  Bytes receive(size_t count, milliseconds timeout);
  // Discards whatever is waiting, then sends and collects.
  Bytes transact(const Bytes& frame, size_t count, milliseconds timeout = milliseconds(1000));
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A running simulator with servos 1..n and a client on its slave.
struct SimBus {
  explicit SimBus(servo_sim::SimOptions options = servo_sim::SimOptions(), int servos = 3);
  servo_sim::ServoBusSim sim;
  BusClient client;
  bool ok = false;
};

class SimBusTest : public ::testing::Test, public SimBus {
 protected:
  void SetUp() override { ASSERT_TRUE(ok); }
};

// Instruction frame / status reply with their checksums.
Bytes frame(uint8_t id, uint8_t instruction, const Bytes& params = {});
Bytes statusReply(uint8_t id, uint8_t error, const Bytes& params = {});
Bytes cat(std::initializer_list<Bytes> parts);
bool waitUntil(const std::function<bool()>& cond, milliseconds timeout);

// Hand-checked frames, so the helpers above are not their own oracle.
const Bytes kPing1{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
const Bytes kAck1{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};
const Bytes kTorqueOn1{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCE};

}  // namespace sim_test
