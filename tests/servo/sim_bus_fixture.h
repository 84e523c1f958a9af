#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "servo/servo_family_a.h"
#include "servo_sim/servo_bus_sim.h"

namespace servo_test {

using Bytes = std::vector<uint8_t>;

// A simulated bus of family A servos 1..n on a pseudo-terminal; the code under
// test opens its slave side like the real port.
class SimBusTest : public ::testing::Test {
 protected:
  void startSim(int servos) {
    sim_ = std::make_unique<servo_sim::ServoBusSim>();
    for (int id = 1; id <= servos; ++id) sim_->addServo(static_cast<uint8_t>(id));
    ASSERT_TRUE(sim_->start());
  }

  const char* device() const { return sim_->slavePath().c_str(); }

  // Every frame logged so far, once at least `count` have arrived.
  std::vector<servo_sim::Frame> frames(size_t count = 0) {
    sim_->waitForFrames(count, std::chrono::seconds(2));
    return sim_->frames();
  }

  void faults(uint8_t id, servo_sim::ServoFaults f) { sim_->setFaults(id, f); }
  // Silent for the next `replies` replies it would give, or for good.
  void silence(uint8_t id, int replies = -1) {
    servo_sim::ServoFaults f;
    f.silent = true;
    f.remaining = replies;
    sim_->setFaults(id, f);
  }

  std::unique_ptr<servo_sim::ServoBusSim> sim_;
};

// A family A port opened on a simulated bus of three servos.
class SimPortTest : public SimBusTest {
 protected:
  void SetUp() override {
    startSim(3);
    ASSERT_TRUE(port_.openPort(1000000, device()));
  }
  ServoFamilyA port_;
};

}  // namespace servo_test
