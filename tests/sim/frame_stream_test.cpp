// Frames cut out of a byte stream however the bytes happen to arrive.
#include <gtest/gtest.h>

#include <thread>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using FrameStream = SimBusTest;

namespace {
const Bytes kPing2{0xFF, 0xFF, 0x02, 0x02, 0x01, 0xFA};

std::vector<Bytes> parseAll(FrameParser& p, FrameParser::Clock::time_point now, const Bytes& in = {}) {
  p.feed(in.data(), in.size(), now);
  std::vector<Bytes> out;
  Frame f;
  while (p.next(&f, now)) out.push_back(f.checksum_ok ? f.raw : Bytes{});
  return out;
}
}  // namespace

TEST_F(FrameStream, SplitAndMergedWritesAreEachAnsweredOnceInOrder) {
  const Bytes read = {0xFF, 0xFF, 0x03, 0x04, 0x02, 0x38, 0x0F, 0xAF};
  for (auto [from, to] : {std::pair{0, 1}, {1, 5}, {5, 8}}) {
    client.send(Bytes(read.begin() + from, read.begin() + to));
    std::this_thread::sleep_for(milliseconds(3));
  }
  EXPECT_EQ(client.receive(22, milliseconds(100)).size(), 21u);
  EXPECT_EQ(sim.frameCount(), 1u);

  // Line noise first, then two pings back to back in one write.
  client.send(cat({{0x00, 0x13, 0xFF}, kPing2, kPing1}));
  EXPECT_EQ(client.receive(12, milliseconds(200)), cat({statusReply(2, 0), kAck1}));
  const auto log = sim.framesFrom(1);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].raw, kPing2);
  EXPECT_EQ(log[1].id, 1);
  EXPECT_EQ(log[1].instruction, kInstPing);
  EXPECT_LE(log[0].time, log[1].time);

  // A registered write cut off after six bytes, then a good ping: once the
  // stall passes the ping must be found inside what was buffered.
  client.send(cat({{0xFF, 0xFF, 0x01, 0x0A, 0x04, 0x29}, kPing2}));
  EXPECT_EQ(client.receive(6, milliseconds(500)), statusReply(2, 0));
  EXPECT_FALSE(sim.servo(1).registered_pending);
}

TEST(FrameParsing, ParserResynchronisesAfterGarbage) {
  FrameParser p(milliseconds(20));
  const auto t0 = FrameParser::Clock::now();
  // A bad-checksum frame whose body hides a good frame is reported, then the good one.
  EXPECT_EQ(parseAll(p, t0, cat({{0xFF, 0xFF, 0x05, 0x07, 0x03}, kPing1})), (std::vector<Bytes>{{}, kPing1}));
  // Three 0xFF in a row and a zero length are not frame starts; a lone trailing 0xFF is kept.
  EXPECT_EQ(parseAll(p, t0, cat({{0xFF, 0xFF, 0xFF}, kPing2, {0xFF, 0xFF, 0x01, 0x00}, {0xFF}})),
            std::vector<Bytes>{kPing2});
  EXPECT_EQ(parseAll(p, t0, Bytes(kPing1.begin() + 1, kPing1.end())), std::vector<Bytes>{kPing1});
  // A stalled partial frame is dropped after the gap, not held forever.
  EXPECT_TRUE(parseAll(p, t0, {0xFF, 0xFF, 0x01, 0x0A, 0x04}).empty());
  EXPECT_TRUE(parseAll(p, t0 + milliseconds(30)).empty());
  EXPECT_EQ(p.pending(), 0u);
}

TEST(FrameLog, KeepsTheNewestFramesWithinItsLimit) {
  SimOptions opt;
  opt.frame_log_limit = 3;
  SimBus bus(opt, 5);
  ASSERT_TRUE(bus.ok);
  for (uint8_t id = 1; id <= 5; ++id) bus.client.transact(frame(id, kInstPing), 6);
  ASSERT_TRUE(bus.sim.waitForFrames(5, milliseconds(1000)));
  const auto log = bus.sim.frames();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log.front().id, 3);
  // Indexes count every frame ever received, so a reader's bookmark survives trimming.
  const auto tail = bus.sim.framesFrom(4);
  ASSERT_EQ(tail.size(), 1u);
  EXPECT_EQ(tail[0].id, 5);
  EXPECT_EQ(bus.sim.framesFrom(0).size(), 3u);
  EXPECT_TRUE(bus.sim.framesFrom(9).empty());
}
