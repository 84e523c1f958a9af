// Frames the controller puts on the wire, byte for byte, through the real
// serial code on the simulated bus.
#include <cstring>

#include "servo/servo_family_c.h"
#include "servo/servo_family_d.h"
#include "sim_bus_fixture.h"

namespace {

using servo_test::Bytes;

using BusFrameBytes = servo_test::SimPortTest;

TEST_F(BusFrameBytes, FeedbackReadRequestAndDecodedReply) {
  sim_->setRegWord(3, 56, 0x8000 | 100);  // -100 in sign and magnitude
  sim_->setReg(3, 63, 41);
  ASSERT_EQ(port_.readFeedback(3), 15);
  EXPECT_EQ(frames(1).back().raw, (Bytes{0xFF, 0xFF, 0x03, 0x04, 0x02, 0x38, 0x0F, 0xAF}));
  EXPECT_EQ(port_.getError(), 0);
  EXPECT_EQ(port_.readPosition(-1), -100);
  EXPECT_EQ(port_.readTemperature(-1), 41);
}

TEST_F(BusFrameBytes, RegisteredGoalThenBroadcastAction) {
  EXPECT_EQ(port_.writePositionDeferred(1, 2048, 0, 0), 1);
  EXPECT_EQ(frames(1).back().raw, (Bytes{0xFF, 0xFF, 0x01, 0x0A, 0x04, 0x29, 0x00, 0x00, 0x08,
                                         0x00, 0x00, 0x00, 0x00, 0xBF}));
  // A broadcast is never answered, so nothing is awaited.
  EXPECT_EQ(port_.triggerAction(0xFE), 1);
  EXPECT_EQ(frames(2).back().raw, (Bytes{0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA}));
}

TEST_F(BusFrameBytes, NegativeValuesGoOutAsSignAndMagnitude) {
  EXPECT_EQ(port_.writePosition(1, -100, 0, 0), 1);
  EXPECT_EQ(frames(1).back().params, (Bytes{41, 0x00, 0x64, 0x80, 0x00, 0x00, 0x00, 0x00}));

  const uint8_t ids[2] = {1, 2};
  int16_t positions[2] = {-5, 5};
  port_.syncWritePositions(ids, 2, positions, nullptr, nullptr);
  EXPECT_EQ(static_cast<uint16_t>(positions[0]), 0x8005);
  EXPECT_EQ(positions[1], 5);
  EXPECT_EQ(frames(2).back().raw, (Bytes{0xFF, 0xFF, 0xFE, 0x14, 0x83, 41, 7,
                                         1, 0, 0x05, 0x80, 0, 0, 0, 0,
                                         2, 0, 0x05, 0x00, 0, 0, 0, 0, 0xAD}));
}

TEST_F(BusFrameBytes, OversizedRequestsAreRefusedWhole) {
  uint8_t out[256];
  std::memset(out, 0xAA, sizeof(out));
  EXPECT_EQ(port_.readRegs(1, 0, out, 251), 0);  // its reply would overrun the reply buffer
  EXPECT_EQ(out[0], 0xAA);
  uint8_t data[250] = {};
  EXPECT_EQ(port_.writeRegs(1, 0, data, 250), 0);
  uint8_t ids[40];
  int16_t positions[40] = {};
  for (int i = 0; i < 40; ++i) ids[i] = static_cast<uint8_t>(i + 1);
  port_.syncWritePositions(ids, 40, positions, nullptr, nullptr);
  // The next frame goes out whole and alone: nothing of the refused ones lingers.
  EXPECT_EQ(port_.writeRegByte(1, 40, 0), 1);
  const auto log = frames(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].raw, (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x00, 0xCF}));
}

TEST_F(BusFrameBytes, EachFamilyUsesItsOwnRegisters) {
  port_.closePort();
  ServoFamilyC port_c;
  ServoFamilyD port_d;
  ASSERT_TRUE(port_c.openPort(1000000, device()));
  port_c.setWheelMode(1);
  port_c.lockEeprom(1);
  port_c.closePort();
  ASSERT_TRUE(port_d.openPort(1000000, device()));
  port_d.writePosition(1, 2048, 0, 0);  // high byte first
  port_d.writePwm(1, -100);             // sign in bit 10
  std::vector<Bytes> params;
  for (const auto& f : frames(4)) params.push_back(f.params);
  EXPECT_EQ(params,
            (std::vector<Bytes>{{35, 1}, {48, 1}, {42, 0x08, 0x00, 0, 0, 0, 0}, {44, 0x04, 0x64}}));
}

TEST(FeedbackCacheDecoding, SignBitsAndStaleCache) {
  ServoFamilyA bus;
  const uint8_t cache[15] = {0x64, 0x80, 0x05, 0x84, 0x05, 0x04, 12, 40, 0, 0, 1, 0, 0, 0xFA, 0x80};
  std::memcpy(bus.feedback_cache_, cache, sizeof(cache));
  EXPECT_EQ(bus.readLoad(-1), -5);  // sign in bit 10
  EXPECT_EQ(bus.readMoving(-1), 1);
  EXPECT_EQ(bus.readCurrent(-1), -250);
  // After a failed feedback read the stale cache comes back undecoded.
  bus.error_ = 1;
  EXPECT_EQ(bus.readPosition(-1), 32868);
}

}  // namespace
