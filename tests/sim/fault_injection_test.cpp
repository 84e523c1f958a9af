// Each injected fault shows on the wire as intended, and only for as long as asked.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using FaultInjection = SimBusTest;
using Clock = std::chrono::steady_clock;

namespace {
bool lineHungUp(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  return poll(&pfd, 1, 100) == 1 && (pfd.revents & POLLHUP);
}
}  // namespace

TEST_F(FaultInjection, SilentServoStillObeysButNeverAnswersWhileTheFaultLasts) {
  ServoFaults silent;
  silent.silent = true;
  silent.remaining = 2;
  sim.setFaults(1, silent);
  EXPECT_TRUE(client.transact(kTorqueOn1, 1, milliseconds(60)).empty());
  ASSERT_TRUE(sim.waitForFrames(1, milliseconds(1000)));
  EXPECT_EQ(sim.reg(1, kRegTorqueEnable), 1);
  EXPECT_EQ(client.transact(frame(2, kInstPing), 6), statusReply(2, 0));
  EXPECT_TRUE(client.transact(kPing1, 6, milliseconds(40)).empty());
  EXPECT_EQ(client.transact(kPing1, 6), kAck1);  // two replies swallowed, then back
}

TEST_F(FaultInjection, CorruptedRepliesDifferOnlyWhereInjected) {
  ServoFaults bad_checksum, wrong_id, error_byte, cut, noise;
  bad_checksum.bad_checksum = true;
  wrong_id.wrong_id = 4;
  error_byte.error_byte = 0x20;
  cut.cut_reply_to = 4;
  noise.noise = {0xFF, 0x00, 0xFF};
  const struct {
    ServoFaults fault;
    Bytes reply;
  } rows[] = {
      {bad_checksum, {0xFF, 0xFF, 0x01, 0x02, 0x00, 0x03}},  // inverted
      {wrong_id, {0xFF, 0xFF, 0x04, 0x02, 0x00, 0xF9}},      // checksum right for the wrong id
      {error_byte, {0xFF, 0xFF, 0x01, 0x02, 0x20, 0xDC}},    // error byte in, checksum follows
      {cut, {0xFF, 0xFF, 0x01, 0x02}},                       // first four bytes only
      {noise, cat({{0xFF, 0x00, 0xFF}, kAck1})},             // noise first, reply intact
  };
  for (const auto& row : rows) {
    sim.setFaults(1, row.fault);
    // For the cut reply, wait briefly for the bytes that must not come.
    const bool short_reply = row.reply.size() < kAck1.size();
    EXPECT_EQ(client.transact(kPing1, short_reply ? kAck1.size() : row.reply.size(),
                              milliseconds(short_reply ? 60 : 1000)),
              row.reply);
  }
}

TEST_F(FaultInjection, LateReplyArrivesAfterTheAskerGaveUp) {
  ServoFaults late;
  late.late_reply_us = 80000;
  late.remaining = 1;
  sim.setFaults(1, late);
  const auto t0 = Clock::now();
  EXPECT_TRUE(client.transact(kPing1, 6, milliseconds(30)).empty());
  // The stale reply lands on the wire later, in whatever comes next.
  EXPECT_EQ(client.receive(6, milliseconds(1000)), kAck1);
  EXPECT_GE(Clock::now() - t0, milliseconds(80));
}

TEST(WireTiming, ReplyDelayAndWireTimeHoldTheReplyBack) {
  SimOptions opt;
  opt.wire_time = true;
  opt.reply_delay_us = 20000;
  SimBus bus(opt);
  ASSERT_TRUE(bus.ok);
  const auto t0 = Clock::now();
  EXPECT_EQ(bus.client.transact(kPing1, 6), kAck1);
  EXPECT_GE(Clock::now() - t0, milliseconds(20));
  // A 250-byte read is 8 + 256 bytes on a 1 Mbaud wire: at least 2.64 ms plus the delay.
  const auto t1 = Clock::now();
  EXPECT_EQ(bus.client.transact(frame(1, kInstRead, {0, 250}), 256).size(), 256u);
  EXPECT_GE(Clock::now() - t1, std::chrono::microseconds(20000 + 2640));
  // In a synchronous read every servo takes its own turnaround.
  const auto t2 = Clock::now();
  const Bytes sync_read = frame(kBroadcastId, kInstSyncRead, {kRegPresentPosition, 2, 1, 2, 3});
  EXPECT_EQ(bus.client.transact(sync_read, 24).size(), 24u);
  EXPECT_GE(Clock::now() - t2, milliseconds(60));
}

TEST_F(FaultInjection, HangUpCutsTheLineOnceAndTheLineCanComeBack) {
  ServoFaults hang_up;
  hang_up.hang_up = true;
  sim.setFaults(2, hang_up);
  EXPECT_EQ(client.transact(kPing1, 6), kAck1);  // other servos unaffected until then
  client.send(frame(2, kInstPing));
  EXPECT_TRUE(waitUntil([&] { return sim.hungUp(); }, milliseconds(1000)));
  EXPECT_FALSE(sim.running());
  EXPECT_TRUE(lineHungUp(client.fd()));
  uint8_t b;
  EXPECT_LT(read(client.fd(), &b, 1), 1);  // no spinning reader on a dead line

  // Brought up again on a fresh pty, the hang-up was a one-off.
  ASSERT_TRUE(sim.start());
  ASSERT_TRUE(client.open(sim.slavePath()));
  EXPECT_EQ(client.transact(frame(2, kInstPing), 6), statusReply(2, 0));
  sim.hangUp();
  EXPECT_TRUE(sim.hungUp());
  EXPECT_TRUE(lineHungUp(client.fd()));
}
