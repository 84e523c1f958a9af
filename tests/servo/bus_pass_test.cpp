// What one pass of the bus thread does on the wire and in the servo blocks,
// with passes run one at a time against the simulated bus.
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bus_servo_motor.h"
#include "servo_bus_thread.h"
#include "sim_bus_fixture.h"

namespace {

using servo::ServoBusThread;
using servo_sim::Frame;
using Traffic = std::map<int, std::vector<std::string>>;  // per servo id; -1 for broadcasts

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

class BusPass : public servo_test::SimBusTest {
 protected:
  void SetUp() override {
    startSim(3);
    bus_ = std::make_unique<ServoBusThread>(device(), ServoBusThread::Worker::kManual);
  }

  busServoMotor& motor(uint32_t id, uint8_t reverse = 0) {
    motors_.push_back(std::make_unique<busServoMotor>(id, reverse, bus_.get()));
    motors_.back()->init();
    return *motors_.back();
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
    EXPECT_EQ(traffic[-1], std::vector<std::string>{"action"});
    EXPECT_EQ(log.back().id, 0xFE);
    return traffic;
  }

  using Lines = std::vector<std::string>;

  std::vector<std::unique_ptr<busServoMotor>> motors_;
  std::unique_ptr<ServoBusThread> bus_;  // destroyed before the motors it serves
};

int count(const std::string& text, const std::string& line) {
  int n = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

const std::vector<std::string> kIdle = {"read 56", "read 40"};

TEST_F(BusPass, EmptyBusStillBroadcastsTheAction) { EXPECT_EQ(pass().size(), 1u); }

TEST_F(BusPass, TorqueAndGoalFollowTheWishes) {
  busServoMotor& m1 = motor(1);
  busServoMotor& m2 = motor(2);
  EXPECT_EQ(m1.setMotorPosition(0.0), kMotorGoalNotStored);  // not read yet
  bool enabled = true;
  EXPECT_EQ(m1.getEnableStatus(&enabled), kMotorNoEnableState);
  EXPECT_TRUE(enabled);

  Traffic t = pass();
  EXPECT_EQ(t[1], kIdle);
  EXPECT_EQ(t[2], kIdle);
  // A stored goal is not sent while torque is not wanted.
  EXPECT_EQ(m2.setMotorPosition(0.0), kMotorOk);
  m1.setEnableStatus(true);
  testing::internal::CaptureStdout();
  t = pass();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "need set motor true.\n");
  EXPECT_EQ(t[1], (Lines{"read 56", "read 40", "write 40=1"}));
  EXPECT_EQ(t[2], kIdle);
  // Read back only on the pass after the write.
  ASSERT_EQ(m1.getEnableStatus(&enabled), kMotorOk);
  EXPECT_FALSE(enabled);

  t = pass();
  ASSERT_EQ(m1.getEnableStatus(&enabled), kMotorOk);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(t[1], kIdle);  // torque on, but no goal yet
  EXPECT_EQ(m1.setMotorPosition(1.0), kMotorOk);
  for (int i = 0; i < 2; ++i) {
    t = pass();
    EXPECT_EQ(t[1], (Lines{"read 56", "read 40", "goal 2699"}));  // re-sent every pass
    EXPECT_EQ(t[2], kIdle);
  }
  EXPECT_EQ(sim_->servo(1).goal, 2699);
}

TEST_F(BusPass, ServoFoundWithTorqueOnIsSwitchedOffOnce) {
  sim_->setReg(3, 40, 1);
  motor(3);
  testing::internal::CaptureStdout();
  EXPECT_EQ(pass()[3], (Lines{"read 56", "read 40", "write 40=0"}));
  EXPECT_EQ(pass()[3], kIdle);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "need set motor flase.\n");
  EXPECT_EQ(sim_->reg(3, 40), 0);
}

TEST_F(BusPass, OfflineServoIsReportedEachPassWhileOthersAreServed) {
  busServoMotor& m1 = motor(1);
  busServoMotor& m2 = motor(2);
  m1.setEnableStatus(true);
  m2.setEnableStatus(true);
  servo_sim::ServoFaults silent;
  silent.silent = true;
  faults(2, silent);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 2; ++i) {
    Traffic t = pass();
    EXPECT_EQ(t[1].front(), "read 56");
    EXPECT_EQ(t[2].front(), "read 56");
  }
  const std::string out = testing::internal::GetCapturedStdout();
  // One red line per pass; servo 2 is never read back, so its torque write
  // is retried each pass too, while servo 1 needs it once.
  EXPECT_EQ(count(out, "\033[1;31mservo nodeid:2 read error!\033[0m\n"), 2);
  EXPECT_EQ(count(out, "need set motor true.\n"), 3);
  bool enabled = true;
  EXPECT_EQ(m2.getEnableStatus(&enabled), kMotorNoEnableState);
  EXPECT_EQ(m2.setMotorPosition(0.0), kMotorGoalNotStored);
  EXPECT_EQ(m1.getEnableStatus(&enabled), kMotorOk);
  EXPECT_TRUE(enabled);

  sim_->clearFaults(2);
  pass();
  pass();
  EXPECT_EQ(m2.getEnableStatus(&enabled), kMotorOk);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(m2.setMotorPosition(0.0), kMotorOk);
}

TEST_F(BusPass, HomeRequestReplacesTorqueAndGoalHandlingUntilAcknowledged) {
  busServoMotor& m = motor(1);
  m.setEnableStatus(true);
  pass();
  pass();
  ASSERT_EQ(m.setMotorPosition(0.5), kMotorOk);
  EXPECT_EQ(pass()[1].back(), "goal 2373");

  // Time-out 0 gives up at once but leaves the request for the bus.
  EXPECT_EQ(m.seHome(0), kMotorHomeTimeout);
  servo_sim::ServoFaults silent;
  silent.silent = true;
  faults(1, silent);
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

TEST_F(BusPass, TorqueBackOnNeverReplaysTheOldGoal) {
  busServoMotor& m = motor(1);
  m.setEnableStatus(true);
  pass();
  pass();
  ASSERT_EQ(m.setMotorPosition(-1.0), kMotorOk);
  EXPECT_EQ(pass()[1].back(), "goal 1396");
  m.setEnableStatus(false);
  testing::internal::CaptureStdout();
  EXPECT_EQ(pass()[1], (Lines{"read 56", "read 40", "write 40=0"}));
  m.setEnableStatus(true);
  EXPECT_EQ(pass()[1], (Lines{"read 56", "read 40", "write 40=1"}));
  EXPECT_EQ(pass()[1], kIdle);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(m.setMotorPosition(0.0), kMotorOk);
  EXPECT_EQ(pass()[1].back(), "goal 2048");
}

TEST_F(BusPass, SecondRegistrationOfAnIdServesOnlyTheSecondBlock) {
  ServoState first, second;
  testing::internal::CaptureStdout();
  bus_->registerServo(1, &first);
  bus_->registerServo(1, &second);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "servo id:1 init...\nservo id:1 init...\n");
  EXPECT_EQ(pass()[1], kIdle);
  EXPECT_EQ(first.online, 0);
  EXPECT_EQ(second.online, 1);
}

TEST_F(BusPass, ReadOutOfUnknownServoLeavesTheRecord) {
  ServoFeedback record;
  record.voltage = 77;
  testing::internal::CaptureStdout();
  bus_->getServoState(9, &record);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\033[1;31mservo nodeid:9 not exit!\033[0m\n");
  EXPECT_EQ(record.voltage, 77);
}

}  // namespace
