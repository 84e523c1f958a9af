// Frames the controller puts on the wire, byte for byte, through the real
// serial code on the simulated bus.
#include <cstring>

#include "servo_family_a.h"
#include "servo_family_c.h"
#include "servo_family_d.h"
#include "sim_bus_fixture.h"

namespace {

using servo_test::Bytes;

class BusFrameBytes : public servo_test::SimBusTest {
 protected:
  void SetUp() override {
    startSim(3);
    ASSERT_TRUE(port_.openPort(1000000, device()));
  }
  ServoFamilyA port_;
};

TEST_F(BusFrameBytes, FeedbackReadRequestAndDecodedReply) {
  sim_->setRegWord(3, 56, 0x8000 | 100);  // -100 in sign and magnitude
  sim_->setReg(3, 63, 41);
  ASSERT_EQ(port_.readFeedback(3), 15);
  EXPECT_EQ(frames(1).back().raw, (Bytes{0xFF, 0xFF, 0x03, 0x04, 0x02, 0x38, 0x0F, 0xAF}));
  EXPECT_EQ(port_.getError(), 0);
  EXPECT_EQ(port_.readPosition(-1), -100);
  EXPECT_EQ(port_.readTemperature(-1), 41);
}

TEST_F(BusFrameBytes, TorqueWriteIsAcknowledged) {
  port_.status_ = 0x55;
  EXPECT_EQ(port_.writeRegByte(1, 40, 1), 1);
  EXPECT_EQ(frames(1).back().raw, (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x28, 0x01, 0xCE}));
  EXPECT_EQ(port_.status_, 0);
  EXPECT_EQ(sim_->reg(1, 40), 1);
  EXPECT_EQ(port_.readRegByte(1, 40), 1);
}

TEST_F(BusFrameBytes, RegisteredGoalStartsOnlyAtBroadcastAction) {
  sim_->setReg(1, 40, 1);
  EXPECT_EQ(port_.writePositionDeferred(1, 2048, 0, 0), 1);
  EXPECT_EQ(frames(1).back().raw, (Bytes{0xFF, 0xFF, 0x01, 0x0A, 0x04, 0x29, 0x00, 0x00, 0x08,
                                         0x00, 0x00, 0x00, 0x00, 0xBF}));
  EXPECT_TRUE(sim_->servo(1).registered_pending);
  // A broadcast is never answered, so nothing is awaited.
  EXPECT_EQ(port_.triggerAction(0xFE), 1);
  EXPECT_EQ(frames(2).back().raw, (Bytes{0xFF, 0xFF, 0xFE, 0x02, 0x05, 0xFA}));
  EXPECT_EQ(sim_->servo(1).actions, 1);
}

TEST_F(BusFrameBytes, NegativeValuesGoOutAsSignAndMagnitude) {
  EXPECT_EQ(port_.writePosition(1, -100, 0, 0), 1);
  EXPECT_EQ(frames(1).back().params, (Bytes{41, 0x00, 0x64, 0x80, 0x00, 0x00, 0x00, 0x00}));

  const uint8_t ids[2] = {1, 2};
  int16_t positions[2] = {-5, 5};
  port_.syncWritePositions(ids, 2, positions, nullptr, nullptr);
  EXPECT_EQ(static_cast<uint16_t>(positions[0]), 0x8005);
  EXPECT_EQ(positions[1], 5);
  const auto sync = frames(2).back();
  EXPECT_EQ(sync.id, 0xFE);
  EXPECT_EQ(sync.instruction, 0x83);
  EXPECT_TRUE(sync.checksum_ok);
  EXPECT_EQ(sync.params, (Bytes{41, 7, 1, 0, 0x05, 0x80, 0, 0, 0, 0, 2, 0, 0x05, 0x00, 0, 0, 0, 0}));
}

TEST_F(BusFrameBytes, FrameTooLongForTransmitBufferNeverLeaves) {
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
  port_c.calibrateMiddle(1);
  port_c.writeWheelSpeed(1, -3, 9);  // two writes: acceleration, then speed
  port_c.closePort();
  ASSERT_TRUE(port_d.openPort(1000000, device()));
  port_d.writePosition(1, 2048, 0, 0);  // high byte first
  port_d.setPwmMode(1);
  port_d.writePwm(1, -100);             // sign in bit 10
  port_d.unlockEeprom(1);
  std::vector<Bytes> params;
  for (const auto& f : frames(9)) params.push_back(f.params);
  EXPECT_EQ(params, (std::vector<Bytes>{{35, 1}, {48, 1}, {40, 128}, {41, 9}, {46, 3, 0x80},
                                        {42, 0x08, 0x00, 0, 0, 0, 0}, {9, 0, 0, 0, 0},
                                        {44, 0x04, 0x64}, {48, 0}}));
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
