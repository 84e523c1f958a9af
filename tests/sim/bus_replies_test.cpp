// What goes back on the wire for each instruction, byte for byte.
#include <gtest/gtest.h>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using BusReplies = SimBusTest;

TEST_F(BusReplies, AnswersAndRefusalsAreByteExact) {
  const struct {
    Bytes request, reply;
  } rows[] = {
      {kPing1, kAck1},
      {kTorqueOn1, kAck1},
      {frame(1, kInstRead, {kRegModelNumber, 2}), statusReply(1, 0, {0x09, 0x03})},
      // Reads and writes running past the register file, or too short to mean anything.
      {frame(1, kInstRead, {250, 10}), statusReply(1, kErrRange)},
      {frame(1, kInstRead, {0, 254}), statusReply(1, kErrRange)},
      {frame(1, kInstWrite, {255, 1, 2}), statusReply(1, kErrRange)},
      {frame(1, kInstRead, {56}), statusReply(1, kErrInstruction)},
      // Present values are the servo's own: acknowledged, not taken.
      {frame(1, kInstWrite, {kRegPresentPosition, 0, 0}), kAck1},
  };
  for (const auto& row : rows) EXPECT_EQ(client.transact(row.request, row.reply.size()), row.reply);
  EXPECT_EQ(sim.reg(1, kRegTorqueEnable), 1);
  EXPECT_EQ(sim.reg(2, kRegTorqueEnable), 0);
  EXPECT_EQ(sim.servo(1).position, 2048);

  // Feedback block of servo 3: at rest at 2048, torque off, 12.0 V, 32 °C.
  EXPECT_EQ(client.transact({0xFF, 0xFF, 0x03, 0x04, 0x02, 0x38, 0x0F, 0xAF}, 21),
            (Bytes{0xFF, 0xFF, 0x03, 0x11, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00,
                   0x78, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4B}));
}

TEST_F(BusReplies, BroadcastsAbsentServosAndCorruptFramesGetNoReply) {
  Bytes corrupt = kTorqueOn1;
  corrupt.back() ^= 0x01;
  EXPECT_TRUE(client.transact(corrupt, 1, milliseconds(50)).empty());
  ASSERT_TRUE(sim.waitForFrames(1, milliseconds(1000)));
  EXPECT_EQ(sim.reg(1, kRegTorqueEnable), 0);
  EXPECT_FALSE(sim.frames().at(0).checksum_ok);  // dropped, but still logged

  for (const Bytes& silent :
       {frame(kBroadcastId, kInstPing), frame(kBroadcastId, kInstWrite, {kRegTorqueEnable, 1}),
        frame(kBroadcastId, kInstRead, {56, 2}), frame(9, kInstPing)}) {
    EXPECT_TRUE(client.transact(silent, 1, milliseconds(50)).empty());
  }
  ASSERT_TRUE(sim.waitForFrames(5, milliseconds(1000)));
  for (uint8_t id = 1; id <= 3; ++id) EXPECT_EQ(sim.reg(id, kRegTorqueEnable), 1);  // obeyed all the same
}

TEST_F(BusReplies, RegisteredGoalWaitsForTheAction) {
  const Bytes goal2048{0xFF, 0xFF, 0x01, 0x0A, 0x04, 0x29, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0xBF};
  EXPECT_EQ(client.transact(goal2048, 6), kAck1);
  EXPECT_TRUE(sim.servo(1).registered_pending);
  // A newer registered write replaces the stored one; nothing changes before ACTION.
  EXPECT_EQ(client.transact(frame(1, kInstRegWrite, {kRegAcceleration, 0, 0xB8, 0x0B, 0, 0, 0, 0}), 6),
            kAck1);
  EXPECT_EQ(sim.servo(1).goal, 2048);

  EXPECT_TRUE(client.transact({0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA}, 1, milliseconds(50)).empty());
  ASSERT_TRUE(sim.waitForFrames(3, milliseconds(500)));
  const ServoSnapshot s = sim.servo(1);
  EXPECT_EQ(s.goal, 3000);
  EXPECT_FALSE(s.registered_pending);
  EXPECT_EQ(s.actions, 1);
  EXPECT_EQ(sim.servo(2).actions, 0);  // held nothing, so the action did nothing

  // An action addressed to one servo is answered and applies only its own write.
  client.transact(frame(1, kInstRegWrite, {kRegGoalPosition, 0x00, 0x04}), 6);
  client.transact(frame(2, kInstRegWrite, {kRegGoalPosition, 0x00, 0x04}), 6);
  EXPECT_EQ(client.transact(frame(2, kInstAction), 6), statusReply(2, 0));
  EXPECT_EQ(sim.servo(2).goal, 1024);
  EXPECT_EQ(sim.servo(1).goal, 3000);
}

TEST_F(BusReplies, SyncReadAnswersListedServosInTurnAndSyncWriteIsSilent) {
  sim.setRegWord(1, kRegPresentPosition, 100);
  sim.setRegWord(3, kRegPresentPosition, 300);
  // Servo 9 is absent and simply does not answer.
  EXPECT_EQ(client.transact(frame(kBroadcastId, kInstSyncRead, {kRegPresentPosition, 2, 3, 9, 1}), 16),
            cat({statusReply(3, 0, {0x2C, 0x01}), statusReply(1, 0, {0x64, 0x00})}));

  // Two servos, 2 bytes each at the goal speed register; the third id is absent.
  const Bytes sync_write =
      frame(kBroadcastId, kInstSyncWrite, {kRegGoalSpeed, 2, 1, 0x10, 0x00, 2, 0x20, 0x00, 7, 1, 1});
  EXPECT_TRUE(client.transact(sync_write, 1, milliseconds(50)).empty());
  ASSERT_TRUE(sim.waitForFrames(2, milliseconds(1000)));
  EXPECT_EQ(sim.regWord(1, kRegGoalSpeed), 0x10);
  EXPECT_EQ(sim.regWord(2, kRegGoalSpeed), 0x20);
  EXPECT_EQ(sim.regWord(3, kRegGoalSpeed), 0);
}
