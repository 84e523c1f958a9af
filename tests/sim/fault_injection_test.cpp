// Each injected fault shows on the wire as intended, and only for as long as asked.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {
const Bytes kPing1{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
const Bytes kTorqueOn1{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCE};
const Bytes kAck1{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};
}  // namespace

TEST(FaultInjection, SilentServoStillObeysButNeverAnswersWhileTheFaultLasts) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  ServoFaults f;
  f.silent = true;
  f.remaining = 2;
  bus.sim.setFaults(1, f);
  EXPECT_TRUE(bus.client.transact(kTorqueOn1, 1, milliseconds(60)).empty());
  ASSERT_TRUE(bus.sim.waitForFrames(1, milliseconds(1000)));
  EXPECT_EQ(bus.sim.reg(1, kRegTorqueEnable), 1);
  EXPECT_EQ(bus.client.transact(frame(2, kInstPing), 6), statusReply(2, 0));
  EXPECT_TRUE(bus.client.transact(kPing1, 6, milliseconds(40)).empty());
  EXPECT_EQ(bus.client.transact(kPing1, 6), kAck1);  // two replies swallowed, then back
}

TEST(FaultInjection, CorruptedRepliesDifferOnlyWhereInjected) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  ServoFaults f;
  f.bad_checksum = true;
  bus.sim.setFaults(1, f);
  EXPECT_EQ(bus.client.transact(kPing1, 6), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x00, 0x03}));

  f = ServoFaults();
  f.wrong_id = 4;  // checksum stays right for the wrong id
  bus.sim.setFaults(1, f);
  EXPECT_EQ(bus.client.transact(kPing1, 6), statusReply(4, 0));

  f = ServoFaults();
  f.error_byte = 0x20;
  bus.sim.setFaults(1, f);
  EXPECT_EQ(bus.client.transact(kPing1, 6), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x20, 0xDC}));

  f = ServoFaults();
  f.cut_reply_to = 4;
  bus.sim.setFaults(1, f);
  EXPECT_EQ(bus.client.transact(kPing1, 6, milliseconds(60)), (Bytes{0xFF, 0xFF, 0x01, 0x02}));

  f = ServoFaults();
  f.noise = {0xFF, 0x00, 0xFF};
  bus.sim.setFaults(1, f);
  EXPECT_EQ(bus.client.transact(kPing1, 9), (Bytes{0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC}));
}

TEST(FaultInjection, LateReplyArrivesAfterTheAskerGaveUp) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  ServoFaults f;
  f.late_reply_us = 80000;
  f.remaining = 1;
  bus.sim.setFaults(1, f);
  const auto t0 = Clock::now();
  EXPECT_TRUE(bus.client.transact(kPing1, 6, milliseconds(30)).empty());
  // The stale reply lands on the wire later, in whatever comes next.
  EXPECT_EQ(bus.client.receive(6, milliseconds(1000)), kAck1);
  EXPECT_GE(Clock::now() - t0, milliseconds(80));
}

TEST(FaultInjection, ReplyDelayAndWireTimeHoldTheReplyBack) {
  SimOptions opt;
  opt.wire_time = true;
  opt.reply_delay_us = 20000;
  SimBusFixture bus(opt);
  ASSERT_TRUE(bus.ok());
  const auto t0 = Clock::now();
  EXPECT_EQ(bus.client.transact(kPing1, 6, milliseconds(1000)), kAck1);
  EXPECT_GE(Clock::now() - t0, milliseconds(20));

  // A 250-byte read is 8 + 256 bytes on a 1 Mbaud wire: at least 2.64 ms plus the delay.
  const auto t1 = Clock::now();
  EXPECT_EQ(bus.client.transact(frame(1, kInstRead, {0, 250}), 256, milliseconds(1000)).size(), 256u);
  EXPECT_GE(Clock::now() - t1, std::chrono::microseconds(20000 + 2640));

  // In a synchronous read every servo takes its own turnaround.
  const auto t2 = Clock::now();
  const Bytes sync_read = frame(kBroadcastId, kInstSyncRead, {kRegPresentPosition, 2, 1, 2, 3});
  EXPECT_EQ(bus.client.transact(sync_read, 24, milliseconds(1000)).size(), 24u);
  EXPECT_GE(Clock::now() - t2, milliseconds(60));
}

TEST(FaultInjection, HangUpCutsTheLineAndLeavesNoSpinningReader) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  ServoFaults f;
  f.hang_up = true;
  bus.sim.setFaults(2, f);
  EXPECT_EQ(bus.client.transact(kPing1, 6), kAck1);  // other servos unaffected until then
  bus.client.send(frame(2, kInstPing));
  const auto deadline = Clock::now() + milliseconds(1000);
  while (!bus.sim.hungUp() && Clock::now() < deadline) usleep(1000);
  EXPECT_TRUE(bus.sim.hungUp());
  EXPECT_FALSE(bus.sim.running());
  pollfd pfd{bus.client.fd(), POLLIN, 0};
  ASSERT_EQ(poll(&pfd, 1, 100), 1);
  EXPECT_TRUE(pfd.revents & POLLHUP);
  uint8_t b;
  EXPECT_LT(read(bus.client.fd(), &b, 1), 1);

  // The line can be brought up again, on a fresh pty, and the hang-up was a one-off.
  ASSERT_TRUE(bus.sim.start());
  ASSERT_TRUE(bus.client.open(bus.sim.slavePath()));
  EXPECT_EQ(bus.client.transact(frame(2, kInstPing), 6), statusReply(2, 0));
  bus.sim.hangUp();
  EXPECT_TRUE(bus.sim.hungUp());
  pfd.fd = bus.client.fd();
  ASSERT_EQ(poll(&pfd, 1, 100), 1);
  EXPECT_TRUE(pfd.revents & POLLHUP);
}
