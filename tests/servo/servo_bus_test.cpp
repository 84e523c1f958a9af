// The servo bus through the real serial code on a simulated bus: the frames that go out, the replies
// that are taken, and what each pass of the bus thread does on the wire and in the servo blocks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "motor/bus_servo_motor.h"
#include "servo/servo_bus_thread.h"
#include "servo_sim/servo_bus_sim.h"

namespace {

// Awaited replies may come far past the bus's 100 ms on a loaded machine; failing ones are spoilt, not late.
constexpr uint64_t kPatientReplyMs = 5000;

// r: read, w: write, g: registered goal; the address, then the value.
std::string describe(const servo_sim::Frame& f) {
  const auto& p = f.params;
  if (f.instruction == 5) return "action";
  if (f.instruction == 2) return "r" + std::to_string(p.at(0));
  if (f.instruction == 4) return "g" + std::to_string(p.at(2) | p.at(3) << 8);
  return "w" + std::to_string(p.at(0)) + "=" + std::to_string(p.size() > 2 ? p[2] << 8 | p[1] : p.at(1));
}

// Servos 1 to 3 on a simulated bus and the bus thread's port on it; no worker: tests run every pass.
class BusTransaction : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint8_t id = 1; id <= 3; ++id) sim_.addServo(id);
    ASSERT_TRUE(sim_.start());
    bus_ = std::make_unique<servo::ServoBusThread>(sim_.slavePath().c_str());
    bus_->io_timeout_ms_ = kPatientReplyMs;
  }
  template <typename Edit>
  void fault(uint8_t id, Edit edit) {
    servo_sim::ServoFaults f;
    edit(f);
    sim_.setFaults(id, f);
  }
  // The servo's next n replies (all, for -1) fail their checksum.
  void spoil(uint8_t id, int n = -1) { fault(id, [n](auto& f) { f.bad_checksum = true, f.remaining = n; }); }
  busServoMotor& motor(uint32_t id, bool enable) {
    motors_.push_back(std::make_unique<busServoMotor>(id, 0, bus_.get()));
    motors_.back()->init();
    motors_.back()->setEnableStatus(enable);
    return *motors_.back();
  }
  // One pass's traffic servo by servo, as "1[r56 r40] 2[r56 r40 w40=0]"; one broadcast ACTION closes it.
  std::string pass() {
    sim_.clearFrames();
    bus_->servePass();
    std::vector<servo_sim::Frame> log;
    for (int i = 0; i < 10000 && ((log = sim_.frames()).empty() || log.back().id != 0xFE); ++i) usleep(1000);
    std::map<int, std::string> by_id;
    for (const auto& f : log) by_id[f.id] += " " + describe(f);
    EXPECT_EQ(by_id[0xFE], " action");
    by_id.erase(0xFE);
    std::string out;
    for (const auto& s : by_id) out += " " + std::to_string(s.first) + "[" + s.second.substr(1) + "]";
    return out.substr(1);
  }
  servo_sim::ServoBusSim sim_;
  std::vector<std::unique_ptr<busServoMotor>> motors_;
  std::unique_ptr<servo::ServoBusThread> bus_;  // destroyed before the motors it serves
};

TEST_F(BusTransaction, ExampleFramesGoOutWholeAndOversizedOnesNotAtAll) {
  uint8_t buf[256] = {};
  EXPECT_EQ(bus_->readRegs(1, 0, buf, 251), 0);   // its reply would overrun the reply buffer
  EXPECT_EQ(bus_->writeRegs(1, 0, buf, 250), 0);  // 257 bytes: more than the transmit buffer
  sim_.setRegWord(3, 56, 0x8000 | 100);           // -100 in sign and magnitude
  ASSERT_EQ(bus_->readFeedback(3), 15);
  EXPECT_EQ(bus_->readPosition(-1), -100);
  EXPECT_EQ(bus_->writeRegByte(1, 40, 1), 1);
  EXPECT_EQ(bus_->writePositionDeferred(1, 2048, 0, 0), 1);
  EXPECT_EQ(bus_->triggerAction(0xFE), 1);  // never answered, so nothing is awaited
  std::vector<std::vector<uint8_t>> raw;
  sim_.waitForFrames(4, std::chrono::seconds(10));
  for (const auto& f : sim_.frames()) raw.push_back(f.raw);
  EXPECT_EQ(raw, (std::vector<std::vector<uint8_t>>{
                     {0xFF, 0xFF, 0x03, 0x04, 0x02, 0x38, 0x0F, 0xAF},
                     {0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCE},
                     {0xFF, 0xFF, 0x01, 0x0A, 0x04, 0x29, 0, 0x00, 0x08, 0, 0, 0, 0, 0xBF},
                     {0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA}}));
}

TEST_F(BusTransaction, DamagedRepliesFailEveryTransactionAndAHangUpEndsTheWait) {
  std::vector<servo_sim::ServoFaults> cases(7);
  cases[0].bad_checksum = true;
  cases[1].wrong_id = 2;          // checksum right for the wrong id
  cases[2].noise = {0x00, 0x13};  // leaves bytes behind for the next transaction to flush
  cases[3].noise = {0xFF, 0xFF, 0x01, 0x03, 0x00, 0x00, 0xFB};  // a whole answer of another length
  cases[4].silent = true;                                       // these two end only when the wait runs out
  cases[5].cut_reply_to = 4;
  cases[6].hang_up = true;  // ends the wait at once: neither waits it out nor spins
  constexpr uint64_t kHangUpWaitMs = 60000;  // so ending at once and waiting it out lie far apart
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    bus_->io_timeout_ms_ = kPatientReplyMs;
    sim_.setRegWord(1, 56, 1000);
    ASSERT_TRUE(i == 6 || bus_->readFeedback(1) == 15);  // late bytes of a cut reply could spoil a last one
    sim_.setRegWord(1, 56, 3000);
    sim_.setFaults(1, cases[i]);
    bus_->io_timeout_ms_ = i == 6 ? kHangUpWaitMs : i >= 4 ? 20 : kPatientReplyMs;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(bus_->writeRegByte(1, 40, 0), 0);
    EXPECT_EQ(bus_->pingServo(1), -1);
    EXPECT_EQ(bus_->readFeedback(1), -1);
    EXPECT_TRUE(i < 6 || std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(kHangUpWaitMs / 2));
    EXPECT_EQ(bus_->feedback_cache_[0] | bus_->feedback_cache_[1] << 8, 1000);  // the earlier feedback stays
    sim_.clearFaults(1);
  }
}

// One reply each: an answer that does not come in time, then that answer just ahead of a later one's;
// a missed answer does not cost the next transaction its own.
TEST_F(BusTransaction, AnAnswerTooLateForItsTransactionNeverPassesForALaterOne) {
  const uint8_t off = 0;
  servo_sim::ServoFaults silent, late_read, late_ack, none;
  silent.silent = true;
  silent.remaining = late_read.remaining = late_ack.remaining = 1;
  late_read.noise = servo_sim::makeStatusReply(1, 0, &off, 1);  // torque off, read before it went on
  late_ack.noise = servo_sim::makeStatusReply(1, 0, nullptr, 0);
  late_ack.cut_reply_to = 0;  // and no answer of its own
  sim_.setReg(1, 40, 1);
  const std::tuple<servo_sim::ServoFaults, bool, int> steps[] = {
      {silent, true, -1}, {late_read, true, 1}, {silent, false, 0}, {late_ack, false, 0}, {none, false, 1}};
  for (const auto& [faults, read, want] : steps) {
    sim_.setFaults(1, faults);
    bus_->io_timeout_ms_ = want == 1 ? kPatientReplyMs : 20;
    EXPECT_EQ(read ? bus_->readRegByte(1, 40) : bus_->writeRegByte(1, 42, 0), want);
  }
}

TEST_F(BusTransaction, SyncReadTakesEachServosReplyAndNothingElse) {
  sim_.setRegWord(2, 56, 0x8000 | 7);
  const uint8_t ids[2] = {2, 3};
  uint8_t out[2];
  EXPECT_EQ(bus_->sendSyncRead(ids, 2, 56, 2), 0);  // without its buffer: fails
  bus_->beginSyncRead(2, 2);
  EXPECT_EQ(bus_->sendSyncRead(ids, 2, 56, 2), 16);
  EXPECT_EQ(bus_->takeSyncReadReply(2, out), 2);
  EXPECT_EQ(bus_->syncReplyWord(15), -7);
  EXPECT_EQ(bus_->takeSyncReadReply(1, out), 0);  // servo 1 was not asked
  EXPECT_EQ(bus_->syncReplyByte(), -1);           // and yields nothing, not servo 2's bytes
}

TEST_F(BusTransaction, SignalsDoNotCutTheWaitShortAndAClosedPortIsHarmless) {
  signal(SIGUSR1, [](int) {});  // a wait for input is never restarted: it sees EINTR
  fault(1, [](auto& f) { f.late_reply_us = 150000; });
  std::thread pester([reader = pthread_self()] {
    for (int i = 0; i < 20; ++i, usleep(5000)) pthread_kill(reader, SIGUSR1);
  });
  EXPECT_EQ(bus_->pingServo(1), 1);
  pester.join();
  signal(SIGUSR1, SIG_DFL);
  EXPECT_FALSE(bus_->openPort(1000000, "/nonexistent/servoBus"));  // closes the open port
  bus_->io_timeout_ms_ = 10;
  EXPECT_EQ(bus_->writeRegByte(1, 40, 1), 0);
  EXPECT_EQ(bus_->tx_len_, 0);
}

// A second opener is refused, the holder keeps exclusive mode; its close ends the mode (a pty would keep it).
TEST_F(BusTransaction, ASecondOpenerIsRefusedUntilTheHolderCloses) {
  auto exclusive = [](int fd) { return ioctl(fd, TIOCGEXCL, &fd) == 0 ? fd : -1; };
  servo::ServoBusThread second(sim_.slavePath().c_str());
  EXPECT_TRUE(second.heldElsewhere() && exclusive(bus_->fd_) == 1);
  bus_->closePort();
  const int fd = open(sim_.slavePath().c_str(), O_RDWR | O_NOCTTY);
  EXPECT_EQ(exclusive(fd), 0), close(fd);
}

using BusPass = BusTransaction;

TEST_F(BusPass, TorqueOnHoldsWhereTheJointStandsAndGoalsGoOutOnlyWhileWanted) {
  sim_.setReg(1, 40, 1);  // found with torque on: switched off once
  busServoMotor& m = motor(1, false);
  EXPECT_EQ(pass(), "1[r56 r40 w40=0]");
  EXPECT_EQ(m.setMotorPosition(-1.0), kMotorOk);
  EXPECT_EQ(pass(), "1[r56 r40]");  // not sent while torque is not wanted
  sim_.setRegWord(1, 56, 3000);     // moved by hand while off, slower than the servo could
  usleep(200000);
  m.setEnableStatus(true);
  spoil(1, 1);  // without this pass's reading the switch waits
  EXPECT_EQ(pass(), "1[r56 r40]");
  EXPECT_EQ(pass(), "1[r56 r40 w42=3000 w40=1]");  // and the goal stored while off is void
  EXPECT_EQ(m.state_.enabled, 0);                  // read back only on the pass after the write
  EXPECT_EQ(pass(), "1[r56 r40]");
  EXPECT_EQ(m.state_.enabled, 1);
  EXPECT_EQ(m.setMotorPosition(1.0), kMotorOk);
  EXPECT_EQ(pass(), "1[r56 r40 g2699]");
  EXPECT_EQ(pass(), "1[r56 r40 g2699]");  // re-sent every pass
}

TEST_F(BusPass, ServoIsOfflineOnlyAfterThreeFailedReadsInARowWhileOthersAreServed) {
  busServoMotor& m = motor(2, true);
  motor(1, true);
  for (int i = 0; i < 2; ++i) pass();
  spoil(2, 2);  // one pass unread; the next reading starts the count anew
  for (int i = 0; i < 2; ++i) pass();
  spoil(2);
  const std::string red = "\033[1;31mservo nodeid:2 read error!\033[0m\n";
  for (int missed = 1; missed <= 3; ++missed) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(pass().find("1[r56 r40] 2["), 0u);  // the others are still served
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(out.find(red) != std::string::npos && out.find(red) == out.rfind(red)) << missed;
    EXPECT_EQ(m.state_.online, missed < 3);
    EXPECT_EQ(m.setMotorPosition(0.0), missed < 3 ? kMotorOk : kMotorGoalNotStored);
  }
  sim_.clearFaults(2);
  pass();
  EXPECT_EQ(m.state_.online, 0);  // back from silence, a reading counts once a second one agrees
  pass();
  EXPECT_EQ(m.state_.online + m.state_.enabled, 2);
}

// What one reply says is not taken on its word: a position the servo could not have reached in the
// time, a torque reading of 0 from a servo that holds torque; torque the servo cut itself stays off.
TEST_F(BusPass, ReadingsTheBusDidNotConfirmAreNotActedOn) {
  static int64_t now_us = 1;
  bus_->clock_us_ = [] { return now_us; };
  busServoMotor& m = motor(1, false);
  pass();
  fault(1, [](auto& f) { f.only_read_at = 56, f.position_offset = 650, f.remaining = 1; });
  m.setEnableStatus(true);
  uint32_t age = 0;
  EXPECT_EQ(pass(), "1[r56 r40]");  // torque waits for a position it can trust
  EXPECT_EQ(m.getReadingAge(&age) + age + m.state_.position, 1 + 2048);
  EXPECT_EQ(pass(), "1[r56 r40 w42=2048 w40=1]");
  fault(1, [](auto& f) { f.only_read_at = 56, f.position_offset = 100; });
  now_us += 5000;
  pass();
  EXPECT_EQ(m.state_.position, 2048);
  now_us += 100000;  // time enough to have got there
  pass();
  EXPECT_EQ(m.state_.position, 2148);
  // Position reads alone fail: offline on the third.
  fault(1, [](auto& f) { f.only_read_at = 56, f.bad_checksum = true; });
  now_us += 100000;
  for (int missed = 1; missed <= 3; ++missed, pass()) EXPECT_EQ(m.state_.online, 1) << missed;
  EXPECT_EQ(m.getReadingAge(&age) + age + m.state_.online, 3u);
  sim_.clearFaults(1);
  for (int i = 0; i < 2; ++i) pass();
  sim_.setReg(1, 40, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(pass(), "1[r56 r40]");  // one stray reading of 0
  sim_.setReg(1, 40, 1);
  pass();
  fault(1, [](auto& f) { f.error_byte = 0x20; });  // overload: the servo drops its torque itself
  sim_.setReg(1, 40, 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pass(), "1[r56 r40]") << i;
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\033[1;31mservo nodeid:1 turned its torque off by itself, error byte 0x20!\033[0m\n");
  EXPECT_EQ(m.state_.enabled + m.state_.online, 1);
  m.setEnableStatus(true);  // the next serve-on
  EXPECT_EQ(pass(), "1[r56 r40 w42=2048 w40=1]");
}

// A servo that follows its goals shows at least the last one sent before its trusted reading, short of
// the travel since the one before: how long a goal may take to show counts from that goal, plus two of the
// longest pass periods of the last one to two seconds. A hold makes the trusted reading the goal.
TEST_F(BusPass, GoalsMayTakeTwoLongestPassesToShowAndAHoldKeepsTheTrustedPosition) {
  static int64_t now_us = 1;
  bus_->clock_us_ = [] { return now_us; };
  auto lagUs = [](busServoMotor& m) {
    double lag = 0.0;
    return m.getReadingLag(&lag) == kMotorOk ? lag * 1e6 : -1.0;
  };
  auto passAfter = [&](int64_t us) { now_us += us, pass(); };
  fault(1, [](auto& f) { f.stuck = true; });  // at 2048 whatever its goals, so every reading is plausible
  busServoMotor& m = motor(1, true);
  EXPECT_EQ(m.holdPosition(), kMotorGoalNotStored);  // nothing read yet
  passAfter(0);
  EXPECT_EQ(m.setMotorPosition(1.0), kMotorOk);
  passAfter(5000);  // goal 2699 sent at 5001
  EXPECT_EQ(lagUs(m), INFINITY);  // no goal sent before a trusted reading
  passAfter(5000);
  now_us += 2000;
  EXPECT_NEAR(lagUs(m), 7000 + 2 * 5000, 1e-6);
  passAfter(300000);  // 302 ms after the one before
  EXPECT_NEAR(lagUs(m), 302000 + 2 * 302000, 1e-6);
  while (now_us < 1100000) passAfter(50000);  // remembered into the next window
  EXPECT_NEAR(lagUs(m), 50000 + 2 * 302000, 1e-6);
  while (now_us < 2100000) passAfter(50000);  // and forgotten after it
  EXPECT_NEAR(lagUs(m), 50000 + 2 * 50000, 1e-6);
  fault(1, [](auto& f) { f.stuck = true, f.position_offset = 650; });
  passAfter(50000);
  EXPECT_EQ(m.holdPosition(), kMotorOk);
  EXPECT_EQ(pass(), "1[r56 r40 g2048]");  // not the reading it did not trust
}

TEST_F(BusPass, HomeRequestReplacesTorqueAndGoalHandlingUntilAcknowledged) {
  sim_.setRegWord(1, 56, 2600);
  busServoMotor& m = motor(1, true);
  pass();
  ASSERT_EQ(m.setMotorPosition(0.5), kMotorOk);
  EXPECT_EQ(pass(), "1[r56 r40 g2373]");
  EXPECT_EQ(m.seHome(0), kMotorHomeTimeout);  // gives up at once; the request stays
  spoil(1);
  EXPECT_EQ(pass(), "1[r56 w40=128]");
  sim_.clearFaults(1);
  EXPECT_EQ(pass(), "1[r56 w40=128]");  // retried until acknowledged
  EXPECT_EQ(sim_.servo(1).calibrations, 2);
  EXPECT_EQ(pass(), "1[r56 r40]");  // and no goal until a fresh one is set
  EXPECT_EQ(m.state_.position, 2048);  // the middle is taken at once, however far it lies
}

}  // namespace
