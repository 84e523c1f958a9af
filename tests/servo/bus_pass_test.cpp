// What one pass of the bus thread does on the wire and in the servo blocks,
// with passes run one at a time against the simulated bus.
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

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
    case 0x03: return "write " + std::to_string(p.at(0)) + "=" + std::to_string(p.at(1));
    case 0x04: return "goal " + std::to_string(p.at(2) | p.at(3) << 8);
    case 0x05: return "action";
    default: return "instruction " + std::to_string(f.instruction);
  }
}

int count(const std::string& text, const std::string& line) {
  int n = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

const Lines kIdle = {"read 56", "read 40"};

class BusPass : public servo_test::SimBusMotorTest {
 protected:
  void SetUp() override { startBus(3, ServoBusThread::Worker::kManual); }

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
};

TEST_F(BusPass, EmptyBusStillBroadcastsTheAction) { EXPECT_EQ(pass().size(), 1u); }

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
  EXPECT_EQ(t[1], (Lines{"read 56", "read 40", "write 40=1"}));
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

TEST_F(BusPass, TorqueBackOnNeverReplaysTheOldGoal) {
  busServoMotor& m = enabledMotor(1);
  ASSERT_EQ(m.setMotorPosition(-1.0), kMotorOk);
  EXPECT_EQ(pass()[1].back(), "goal 1396");
  m.setEnableStatus(false);
  EXPECT_EQ(pass()[1], (Lines{"read 56", "read 40", "write 40=0"}));
  m.setEnableStatus(true);
  EXPECT_EQ(pass()[1], (Lines{"read 56", "read 40", "write 40=1"}));
  EXPECT_EQ(pass()[1], kIdle);
  ASSERT_EQ(m.setMotorPosition(0.0), kMotorOk);
  EXPECT_EQ(pass()[1].back(), "goal 2048");
}

TEST_F(BusPass, OfflineServoIsReportedEachPassWhileOthersAreServed) {
  busServoMotor& m1 = motor(1);
  busServoMotor& m2 = motor(2);
  EXPECT_EQ(m2.setMotorPosition(0.0), kMotorGoalNotStored);  // not read yet
  m1.setEnableStatus(true);
  m2.setEnableStatus(true);
  pass();
  ASSERT_EQ(m2.setMotorPosition(0.0), kMotorOk);
  silence(2);
  testing::internal::CaptureStdout();
  pass();
  pass();
  const std::string out = testing::internal::GetCapturedStdout();
  // One red line per pass; servo 2 is never read back as on, so its torque
  // write is retried each pass too, while servo 1 needs no more.
  EXPECT_EQ(count(out, "\033[1;31mservo nodeid:2 read error!\033[0m\n"), 2);
  EXPECT_EQ(count(out, "need set motor true.\n"), 2);
  bool enabled = true;
  EXPECT_EQ(m2.getEnableStatus(&enabled), kMotorNoEnableState);
  EXPECT_TRUE(enabled);  // left as it was
  EXPECT_EQ(m2.setMotorPosition(0.0), kMotorGoalNotStored);
  EXPECT_EQ(enableState(m1), 1);

  sim_->clearFaults(2);
  pass();
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
  {
    std::lock_guard<std::mutex> lock(m.state_.mtx);
    EXPECT_EQ(m.state_.calibrate, 0);
    EXPECT_EQ(m.state_.goal_position, 2048);
    EXPECT_EQ(m.state_.goal_valid, 0);
  }
  EXPECT_EQ(pass()[1], kIdle);  // no goal until a fresh one is set
}

TEST_F(BusPass, SecondRegistrationOfAnIdServesOnlyTheSecondBlock) {
  ServoState first, second;
  bus_->registerServo(1, &first);
  bus_->registerServo(1, &second);
  EXPECT_EQ(pass()[1], kIdle);
  EXPECT_EQ(first.online, 0);
  EXPECT_EQ(second.online, 1);
}

}  // namespace
