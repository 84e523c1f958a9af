// Each injected fault shows on the wire as intended.
#include <gtest/gtest.h>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using FaultInjection = SimBusTest;

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
