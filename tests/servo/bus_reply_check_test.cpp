// Replies that must be refused, and the ones that must be taken, through the
// real serial code on the simulated bus.
#include <chrono>
#include <cstring>
#include <thread>

#include "servo_family_a.h"
#include "sim_bus_fixture.h"

namespace {

using servo_sim::ServoFaults;

class BusReplyCheck : public servo_test::SimBusTest {
 protected:
  void SetUp() override {
    startSim(2);
    ASSERT_TRUE(port_.openPort(1000000, device()));
  }
  ServoFamilyA port_;
};

TEST_F(BusReplyCheck, ErrorByteIsKeptButIsNoFailure) {
  ServoFaults f;
  f.error_byte = 0x20;
  faults(1, f);
  EXPECT_EQ(port_.writeRegByte(1, 40, 1), 1);
  EXPECT_EQ(port_.status_, 0x20);
  port_.status_ = 0;
  EXPECT_EQ(port_.readRegByte(1, 40), 1);
  EXPECT_EQ(port_.status_, 0x20);
}

TEST_F(BusReplyCheck, DamagedRepliesFailEveryTransaction) {
  struct Case {
    const char* name;
    ServoFaults faults;
  };
  std::vector<Case> cases(5);
  cases[0].name = "bad checksum";
  cases[0].faults.bad_checksum = true;
  cases[1].name = "reply from servo 2";  // checksum right for the wrong id
  cases[1].faults.wrong_id = 2;
  cases[2].name = "cut reply";
  cases[2].faults.cut_reply_to = 4;
  cases[3].name = "noise before the reply";
  cases[3].faults.noise = {0x00, 0x13};
  cases[4].name = "silent";
  cases[4].faults.silent = true;

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->setRegWord(1, 56, 1000);
    ASSERT_EQ(port_.readFeedback(1), 15);
    ASSERT_EQ(port_.pingServo(1), 1);
    sim_->setRegWord(1, 56, 3000);
    faults(1, c.faults);
    EXPECT_EQ(port_.writeRegByte(1, 40, 0), 0);
    EXPECT_EQ(port_.readRegByte(1, 40), -1);
    EXPECT_EQ(port_.readRegWord(1, 56), -1);
    EXPECT_EQ(port_.pingServo(1), -1);
    EXPECT_EQ(port_.readFeedback(1), -1);
    EXPECT_EQ(port_.getError(), 1);
    // The earlier feedback stays; no byte of the damaged reply leaks in.
    EXPECT_EQ(port_.feedback_cache_[0] | port_.feedback_cache_[1] << 8, 1000);
    sim_->clearFaults(1);
  }
}

TEST_F(BusReplyCheck, LateReplyIsFlushedBeforeTheNextTransaction) {
  ServoFaults f;
  f.late_reply_us = 150000;  // past the 100 ms reply time-out
  f.remaining = 1;
  faults(1, f);
  sim_->setRegWord(1, 56, 1111);
  sim_->setReg(1, 41, 7);
  EXPECT_EQ(port_.readRegWord(1, 56), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));  // the late bytes are in by now
  EXPECT_EQ(port_.readRegByte(1, 41), 7);
  EXPECT_EQ(port_.readRegWord(1, 56), 1111);
}

TEST_F(BusReplyCheck, OversizedReadIsRefusedWithoutTraffic) {
  uint8_t out[256];
  std::memset(out, 0xAA, sizeof(out));
  EXPECT_EQ(port_.readRegs(1, 0, out, 251), 0);
  EXPECT_EQ(out[0], 0xAA);
  EXPECT_EQ(sim_->frameCount(), 0u);
}

TEST_F(BusReplyCheck, SyncReadFindsEachServosReply) {
  sim_->setRegWord(1, 56, 100);
  sim_->setRegWord(2, 56, 0x8000 | 7);
  const uint8_t ids[2] = {1, 2};
  // Without its buffer the read fails and sends nothing.
  EXPECT_EQ(port_.sendSyncRead(ids, 2, 56, 2), 0);
  EXPECT_EQ(sim_->frameCount(), 0u);

  port_.beginSyncRead(2, 2);
  EXPECT_EQ(port_.sendSyncRead(ids, 2, 56, 2), 16);
  uint8_t out[2];
  EXPECT_EQ(port_.takeSyncReadReply(2, out), 2);
  EXPECT_EQ(port_.syncReplyWord(15), -7);
  EXPECT_EQ(port_.syncReplyWord(15), -1);  // used up
  EXPECT_EQ(port_.takeSyncReadReply(1, out), 2);
  EXPECT_EQ(port_.syncReplyByte(), 100);
  EXPECT_EQ(port_.syncReplyByte(), 0);
  EXPECT_EQ(port_.syncReplyByte(), -1);
  // A servo that did not answer yields nothing, not the bytes read before.
  EXPECT_EQ(port_.takeSyncReadReply(3, out), 0);
  EXPECT_EQ(port_.syncReplyByte(), -1);
  port_.endSyncRead();
}

}  // namespace
