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
  ~BusClient() { close(); }

  bool open(const std::string& path);
  void close();
  bool send(const Bytes& bytes);
  // Collects bytes until `count` arrived or the time is up.
  Bytes receive(size_t count, milliseconds timeout);
  // Discards whatever is waiting, then sends and collects.
  Bytes transact(const Bytes& frame, size_t count, milliseconds timeout = milliseconds(1000));

 private:
  int fd_ = -1;
};

// A running simulator with servos 1..3 and a client on its slave.
class SimBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint8_t id = 1; id <= 3; ++id) sim.addServo(id);
    ASSERT_TRUE(sim.start() && client.open(sim.slavePath()));
  }
  servo_sim::ServoBusSim sim;
  BusClient client;
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
