// What goes back on the wire for each instruction, byte for byte.
#include <gtest/gtest.h>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using std::chrono::milliseconds;

namespace {
const Bytes kAck1{0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC};
const Bytes kBroadcastAction{0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA};
}  // namespace

TEST(BusReplies, PingReadAndTorqueWriteAnswerExactly) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  EXPECT_EQ(bus.client.transact({0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}, 6), kAck1);

  // Feedback block of servo 3: at rest at 2048, torque off, 12.0 V.
  const Bytes feedback = bus.client.transact({0xFF, 0xFF, 0x03, 0x04, 0x02, 0x38, 0x0F, 0xAF}, 21);
  ASSERT_EQ(feedback.size(), 21u);
  EXPECT_EQ(Bytes(feedback.begin(), feedback.begin() + 7), (Bytes{0xFF, 0xFF, 0x03, 0x11, 0x00, 0x00, 0x08}));
  EXPECT_EQ(feedback[5 + 6], 120);  // voltage
  EXPECT_EQ(feedback[5 + 10], 0);   // not moving
  unsigned sum = 0;
  for (size_t i = 2; i + 1 < feedback.size(); ++i) sum += feedback[i];
  EXPECT_EQ(feedback.back(), static_cast<uint8_t>(~sum));

  EXPECT_EQ(bus.client.transact({0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCE}, 6), kAck1);
  EXPECT_EQ(bus.sim.reg(1, kRegTorqueEnable), 1);
  EXPECT_EQ(bus.sim.reg(2, kRegTorqueEnable), 0);
  EXPECT_EQ(bus.client.transact(frame(1, kInstRead, {kRegModelNumber, 2}), 8), statusReply(1, 0, {0x09, 0x03}));
}

TEST(BusReplies, RegisteredGoalWaitsForTheBroadcastAction) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  const Bytes goal2048{0xFF, 0xFF, 0x01, 0x0A, 0x04, 0x29, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0xBF};
  EXPECT_EQ(bus.client.transact(goal2048, 6), kAck1);
  EXPECT_TRUE(bus.sim.servo(1).registered_pending);

  // A newer registered write replaces the stored one; nothing changes before ACTION.
  const Bytes goal3000 = frame(1, kInstRegWrite, {kRegAcceleration, 0, 0xB8, 0x0B, 0, 0, 0, 0});
  EXPECT_EQ(bus.client.transact(goal3000, 6), kAck1);
  EXPECT_EQ(bus.sim.servo(1).goal, 2048);

  EXPECT_TRUE(bus.client.transact(kBroadcastAction, 1, milliseconds(50)).empty());
  ASSERT_TRUE(bus.sim.waitForFrames(3, milliseconds(500)));
  const ServoSnapshot s = bus.sim.servo(1);
  EXPECT_EQ(s.goal, 3000);
  EXPECT_FALSE(s.registered_pending);
  EXPECT_EQ(s.actions, 1);
  EXPECT_EQ(bus.sim.servo(2).actions, 0);  // held nothing, so the action did nothing

  // An action addressed to one servo is answered and applies only its own write.
  bus.client.transact(frame(1, kInstRegWrite, {kRegGoalPosition, 0x00, 0x04}), 6);
  bus.client.transact(frame(2, kInstRegWrite, {kRegGoalPosition, 0x00, 0x04}), 6);
  EXPECT_EQ(bus.client.transact(frame(2, kInstAction), 6), statusReply(2, 0));
  EXPECT_EQ(bus.sim.servo(2).goal, 1024);
  EXPECT_EQ(bus.sim.servo(1).goal, 3000);
}

TEST(BusReplies, BroadcastsAndAbsentServosGetNoReply) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  EXPECT_TRUE(bus.client.transact(frame(kBroadcastId, kInstPing), 1, milliseconds(50)).empty());
  EXPECT_TRUE(bus.client.transact(frame(kBroadcastId, kInstWrite, {kRegTorqueEnable, 1}), 1, milliseconds(50)).empty());
  EXPECT_TRUE(bus.client.transact(frame(kBroadcastId, kInstRead, {56, 2}), 1, milliseconds(50)).empty());
  EXPECT_TRUE(bus.client.transact(frame(9, kInstPing), 1, milliseconds(50)).empty());
  ASSERT_TRUE(bus.sim.waitForFrames(4, milliseconds(1000)));
  for (uint8_t id = 1; id <= 3; ++id) EXPECT_EQ(bus.sim.reg(id, kRegTorqueEnable), 1);
}

TEST(BusReplies, SyncReadAnswersListedServosInTurnAndSyncWriteIsSilent) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  bus.sim.setRegWord(1, kRegPresentPosition, 100);
  bus.sim.setRegWord(3, kRegPresentPosition, 300);
  // Servo 9 is absent and simply does not answer.
  const Bytes got = bus.client.transact(frame(kBroadcastId, kInstSyncRead, {kRegPresentPosition, 2, 3, 9, 1}), 16);
  Bytes want = statusReply(3, 0, {0x2C, 0x01});
  const Bytes r1 = statusReply(1, 0, {0x64, 0x00});
  want.insert(want.end(), r1.begin(), r1.end());
  EXPECT_EQ(got, want);

  // Two servos, 2 bytes each at the goal speed register; the third id is absent.
  const Bytes sync_write =
      frame(kBroadcastId, kInstSyncWrite, {kRegGoalSpeed, 2, 1, 0x10, 0x00, 2, 0x20, 0x00, 7, 1, 1});
  EXPECT_TRUE(bus.client.transact(sync_write, 1, milliseconds(50)).empty());
  ASSERT_TRUE(bus.sim.waitForFrames(2, milliseconds(1000)));
  EXPECT_EQ(bus.sim.regWord(1, kRegGoalSpeed), 0x10);
  EXPECT_EQ(bus.sim.regWord(2, kRegGoalSpeed), 0x20);
  EXPECT_EQ(bus.sim.regWord(3, kRegGoalSpeed), 0);
}

TEST(BusReplies, MalformedRequestsAreRefusedNotObeyed) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  // Corrupt checksum: dropped, but still in the log.
  Bytes bad{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCF};
  EXPECT_TRUE(bus.client.transact(bad, 1, milliseconds(50)).empty());
  ASSERT_TRUE(bus.sim.waitForFrames(1, milliseconds(1000)));
  EXPECT_EQ(bus.sim.reg(1, kRegTorqueEnable), 0);
  const auto log = bus.sim.frames();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_FALSE(log[0].checksum_ok);

  // Reads and writes running past the register file are refused with an error byte.
  EXPECT_EQ(bus.client.transact(frame(1, kInstRead, {250, 10}), 6), statusReply(1, kErrRange));
  EXPECT_EQ(bus.client.transact(frame(1, kInstRead, {0, 254}), 6), statusReply(1, kErrRange));
  EXPECT_EQ(bus.client.transact(frame(1, kInstWrite, {255, 1, 2}), 6), statusReply(1, kErrRange));
  EXPECT_EQ(bus.client.transact(frame(1, kInstRead, {56}), 6), statusReply(1, kErrInstruction));
  // Present values are the servo's own, not writable over the bus.
  EXPECT_EQ(bus.client.transact(frame(1, kInstWrite, {kRegPresentPosition, 0, 0}), 6), kAck1);
  EXPECT_EQ(bus.sim.servo(1).position, 2048);
}
