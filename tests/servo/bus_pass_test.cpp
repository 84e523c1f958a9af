// What one pass of the bus thread does on the wire and in the servo blocks,
// with passes run one at a time against the simulated bus.
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "motor/bus_servo_motor.h"
#include "servo/servo_bus_thread.h"
#include "sim_bus_fixture.h"

namespace {

using servo::ServoBusThread;
using servo_sim::Frame;
using Lines = std::vector<std::string>;
using Traffic = std::map<int, Lines>;  // per servo id; -1 for broadcasts

std::string describe(const Frame& f) {
  const auto& p = f.params;
  switch (f.instruction) {
    case 0x02: return "read " + std::to_string(p.at(0));
    case 0x03: return "write " + std::to_string(p.at(0)) + "=" +
                      std::to_string(p.size() > 2 ? p[1] | p[2] << 8 : p.at(1));
    case 0x04: return "goal " + std::to_string(p.at(2) | p.at(3) << 8);
    case 0x05: return "action";
    default: return "instruction " + std::to_string(f.instruction);
  }
}

const Lines kIdle = {"read 56", "read 40"};

// A bus thread on the simulated bus whose passes the test runs one at a time.
class BusPass : public servo_test::SimBusTest {
 protected:
  void SetUp() override {
    startSim(3);
    bus_ = std::make_unique<ServoBusThread>(device());
  }

  busServoMotor& motor(uint32_t id) {
    motors_.push_back(std::make_unique<busServoMotor>(id, 0, bus_.get()));
    motors_.back()->init();
    return *motors_.back();
  }

  // The torque state as read back, or -1 while the servo is offline.
  static int enableState(busServoMotor& m) {
    bool on = false;
    return m.getEnableStatus(&on) == kMotorOk ? on : -1;
  }

  // Runs one pass and returns its traffic, checking that each servo is
  // served in one piece and a single broadcast ACTION closes the pass.
  Traffic pass() {
    sim_->clearFrames();
    bus_->servePass();
    std::vector<Frame> log;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while ((log = sim_->frames()).empty() || log.back().instruction != 0x05) {
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    Traffic traffic;
    for (size_t i = 0; i < log.size(); ++i) {
      const int id = log[i].id == 0xFE ? -1 : log[i].id;
      EXPECT_TRUE(i == 0 || log[i - 1].id == log[i].id || traffic.count(id) == 0)
          << "servo " << id << " served in two pieces";
      traffic[id].push_back(describe(log[i]));
    }
    EXPECT_EQ(traffic[-1], Lines{"action"});
    EXPECT_TRUE(!log.empty() && log.back().id == 0xFE);
    return traffic;
  }

  // A motor whose torque is on and read back as on.
  busServoMotor& enabledMotor(uint32_t id) {
    busServoMotor& m = motor(id);
    m.setEnableStatus(true);
    pass();
    pass();
    return m;
  }

  std::vector<std::unique_ptr<busServoMotor>> motors_;
  std::unique_ptr<ServoBusThread> bus_;  // destroyed before the motors it serves
};

TEST_F(BusPass, TorqueAndGoalFollowTheWishes) {
  sim_->setReg(2, 40, 1);  // found with torque on: switched off once
  busServoMotor& m1 = motor(1);
  busServoMotor& m2 = motor(2);
  Traffic t = pass();
  EXPECT_EQ(t[1], kIdle);
  EXPECT_EQ(t[2], (Lines{"read 56", "read 40", "write 40=0"}));
  // A stored goal is not sent while torque is not wanted.
  EXPECT_EQ(m2.setMotorPosition(0.0), kMotorOk);
  m1.setEnableStatus(true);
  t = pass();
  EXPECT_EQ(t[1], (Lines{"read 56", "read 40", "write 42=2048", "write 40=1"}));
  EXPECT_EQ(t[2], kIdle);
  EXPECT_EQ(enableState(m1), 0);  // read back only on the pass after the write
  EXPECT_EQ(pass()[1], kIdle);    // torque on, but no goal yet
  EXPECT_EQ(enableState(m1), 1);

  EXPECT_EQ(m1.setMotorPosition(1.0), kMotorOk);
  for (int i = 0; i < 2; ++i) {
    t = pass();
    EXPECT_EQ(t[1], (Lines{"read 56", "read 40", "goal 2699"}));  // re-sent every pass
    EXPECT_EQ(t[2], kIdle);
  }
}

TEST_F(BusPass, TorqueBackOnHoldsWhereTheJointStandsAndReplaysNoOldGoal) {
  busServoMotor& m = enabledMotor(1);
  ASSERT_EQ(m.setMotorPosition(-1.0), kMotorOk);
  EXPECT_EQ(pass()[1].back(), "goal 1396");
  m.setEnableStatus(false);
  EXPECT_EQ(pass()[1], (Lines{"read 56", "read 40", "write 40=0"}));
  sim_->setRegWord(1, 56, 3000);  // moved by hand while off
  m.setEnableStatus(true);
  silence(1, 1);  // without this pass's reading the switch waits
  EXPECT_EQ(pass()[1], kIdle);
  EXPECT_EQ(pass()[1], (Lines{"read 56", "read 40", "write 42=3000", "write 40=1"}));
  EXPECT_EQ(pass()[1], kIdle);
  ASSERT_EQ(m.setMotorPosition(0.0), kMotorOk);
  EXPECT_EQ(pass()[1].back(), "goal 2048");
}

TEST_F(BusPass, ServoIsOfflineOnlyAfterThreeFailedReadsInARowWhileOthersAreServed) {
  busServoMotor& m1 = motor(1);
  busServoMotor& m2 = motor(2);
  EXPECT_EQ(m2.setMotorPosition(0.0), kMotorGoalNotStored);  // not read yet
  m1.setEnableStatus(true);
  m2.setEnableStatus(true);
  pass();
  pass();
  silence(2, 2);  // one pass unread; the next reading starts the count anew
  pass();
  pass();
  silence(2);
  const std::string red = "\033[1;31mservo nodeid:2 read error!\033[0m\n";
  for (int missed = 1; missed <= 3; ++missed) {
    testing::internal::CaptureStdout();
    const Traffic t = pass();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(out.find(red) != std::string::npos && out.find(red) == out.rfind(red)) << missed;
    EXPECT_EQ(t.at(1), kIdle);  // the others are still served
    bool enabled = false;
    // The last reading holds until the third miss; then the output is left as it was.
    EXPECT_EQ(m2.getEnableStatus(&enabled), missed < 3 ? kMotorOk : kMotorNoEnableState);
    EXPECT_EQ(enabled, missed < 3);
    EXPECT_EQ(m2.setMotorPosition(0.0), missed < 3 ? kMotorOk : kMotorGoalNotStored);
  }
  EXPECT_EQ(enableState(m1), 1);

  sim_->clearFaults(2);
  pass();
  EXPECT_EQ(enableState(m2), 1);
  EXPECT_EQ(m2.setMotorPosition(0.0), kMotorOk);
}

TEST_F(BusPass, HomeRequestReplacesTorqueAndGoalHandlingUntilAcknowledged) {
  busServoMotor& m = enabledMotor(1);
  ASSERT_EQ(m.setMotorPosition(0.5), kMotorOk);
  EXPECT_EQ(pass()[1].back(), "goal 2373");

  // Time-out 0 gives up at once but leaves the request for the bus.
  EXPECT_EQ(m.seHome(0), kMotorHomeTimeout);
  silence(1);
  EXPECT_EQ(pass()[1], (Lines{"read 56", "write 40=128"}));
  sim_->clearFaults(1);
  EXPECT_EQ(pass()[1], (Lines{"read 56", "write 40=128"}));  // retried until acknowledged
  EXPECT_EQ(sim_->servo(1).calibrations, 2);
  EXPECT_EQ(pass()[1], kIdle);  // acknowledged, and no goal until a fresh one is set
}

}  // namespace
