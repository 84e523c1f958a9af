// Replies that must be refused, and the ones that must be taken, through the
// real serial code on the simulated bus.
#include <chrono>
#include <thread>
#include <vector>

#include "sim_bus_fixture.h"

namespace {

using servo_sim::ServoFaults;

using BusReplyCheck = servo_test::SimPortTest;

TEST_F(BusReplyCheck, DamagedRepliesFailEveryTransaction) {
  const char* names[] = {"bad checksum", "reply from servo 2", "cut reply",
                         "noise before the reply", "silent"};
  std::vector<ServoFaults> cases(5);
  cases[0].bad_checksum = true;
  cases[1].wrong_id = 2;  // checksum right for the wrong id
  cases[2].cut_reply_to = 4;
  cases[3].noise = {0x00, 0x13};
  cases[4].silent = true;
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(names[i]);
    sim_->setRegWord(1, 56, 1000);
    ASSERT_EQ(port_.readFeedback(1), 15);
    ASSERT_EQ(port_.pingServo(1), 1);
    sim_->setRegWord(1, 56, 3000);
    faults(1, cases[i]);
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
