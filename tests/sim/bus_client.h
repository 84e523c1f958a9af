#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "servo_sim/servo_bus_sim.h"

namespace sim_test {

using Bytes = std::vector<uint8_t>;

// The controller's end of the simulated bus, reduced to raw bytes: a raw
// serial port on the pty slave, writes as given, reads with a deadline.
class BusClient {
 public:
  BusClient() = default;
  ~BusClient();
  BusClient(const BusClient&) = delete;
  BusClient& operator=(const BusClient&) = delete;

  bool open(const std::string& path);
  void close();
  bool send(const Bytes& bytes);
  // Collects bytes until `count` arrived or the time is up.
  Bytes receive(size_t count, std::chrono::milliseconds timeout);
  // Discards whatever is waiting, then sends and collects.
  Bytes transact(const Bytes& frame, size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
  void flush();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A running simulator with servos 1..3 and a client on its slave.
class SimBusFixture {
 public:
  explicit SimBusFixture(servo_sim::SimOptions options = servo_sim::SimOptions(), int servos = 3);
  bool ok() const { return ok_; }

  servo_sim::ServoBusSim sim;
  BusClient client;

 private:
  bool ok_ = false;
};

// Builds an instruction frame with its checksum.
Bytes frame(uint8_t id, uint8_t instruction, const Bytes& params = {});
Bytes statusReply(uint8_t id, uint8_t error, const Bytes& params = {});

}  // namespace sim_test
