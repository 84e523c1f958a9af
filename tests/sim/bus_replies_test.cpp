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
