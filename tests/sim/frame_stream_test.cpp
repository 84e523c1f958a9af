// Frames cut out of a byte stream however the bytes happen to arrive.
#include <gtest/gtest.h>

#include <thread>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;
using std::chrono::milliseconds;

namespace {
const Bytes kPing1{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};
const Bytes kPing2{0xFF, 0xFF, 0x02, 0x02, 0x01, 0xFA};

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<Frame> parseAll(FrameParser& p, FrameParser::Clock::time_point now) {
  std::vector<Frame> out;
  Frame f;
  while (p.next(&f, now)) out.push_back(f);
  return out;
}
}  // namespace

TEST(FrameStream, FrameSplitAcrossWritesIsAnsweredOnce) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  const Bytes read = {0xFF, 0xFF, 0x03, 0x04, 0x02, 0x38, 0x0F, 0xAF};
  bus.client.send(Bytes(read.begin(), read.begin() + 1));
  std::this_thread::sleep_for(milliseconds(3));
  bus.client.send(Bytes(read.begin() + 1, read.begin() + 5));
  std::this_thread::sleep_for(milliseconds(3));
  bus.client.send(Bytes(read.begin() + 5, read.end()));
  EXPECT_EQ(bus.client.receive(22, milliseconds(100)).size(), 21u);
  EXPECT_EQ(bus.sim.frameCount(), 1u);
}

TEST(FrameStream, SeveralFramesInOneWriteAreAllAnsweredInOrder) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  // Line noise first, then two pings back to back.
  bus.client.send(cat({{0x00, 0x13, 0xFF}, kPing2, kPing1}));
  EXPECT_EQ(bus.client.receive(12, milliseconds(200)), cat({statusReply(2, 0), statusReply(1, 0)}));
  const auto log = bus.sim.frames();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].id, 2);
  EXPECT_EQ(log[1].id, 1);
  EXPECT_EQ(log[1].instruction, kInstPing);
  EXPECT_EQ(log[1].raw, kPing1);
  EXPECT_LE(log[0].time, log[1].time);
}

TEST(FrameStream, TruncatedFrameDoesNotSwallowTheNextOne) {
  SimBusFixture bus;
  ASSERT_TRUE(bus.ok());
  // A registered write cut off after six bytes, then a good ping: once the
  // stall passes the parser must find the ping inside what it buffered.
  bus.client.send(cat({{0xFF, 0xFF, 0x01, 0x0A, 0x04, 0x29}, kPing2}));
  EXPECT_EQ(bus.client.receive(6, milliseconds(500)), statusReply(2, 0));
  EXPECT_FALSE(bus.sim.servo(1).registered_pending);
}

TEST(FrameStream, ParserResynchronisesAfterGarbage) {
  FrameParser p(milliseconds(20));
  const auto t0 = FrameParser::Clock::now();
  // A bad-checksum frame whose body hides a good frame is reported, then the good one.
  const Bytes hidden = cat({{0xFF, 0xFF, 0x05, 0x07, 0x03}, kPing1});
  p.feed(hidden.data(), hidden.size(), t0);
  auto frames = parseAll(p, t0);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_FALSE(frames[0].checksum_ok);
  EXPECT_TRUE(frames[1].checksum_ok);
  EXPECT_EQ(frames[1].raw, kPing1);

  // Three 0xFF in a row and a zero length are not frame starts; a lone trailing 0xFF is kept.
  const Bytes odd = cat({{0xFF, 0xFF, 0xFF}, kPing2, {0xFF, 0xFF, 0x01, 0x00}, {0xFF}});
  p.feed(odd.data(), odd.size(), t0);
  frames = parseAll(p, t0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].raw, kPing2);
  const Bytes rest(kPing1.begin() + 1, kPing1.end());
  p.feed(rest.data(), rest.size(), t0);
  frames = parseAll(p, t0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].raw, kPing1);

  // A stalled partial frame is dropped after the gap, not held forever.
  const Bytes partial{0xFF, 0xFF, 0x01, 0x0A, 0x04};
  p.feed(partial.data(), partial.size(), t0);
  Frame f;
  EXPECT_FALSE(p.next(&f, t0));
  EXPECT_EQ(parseAll(p, t0 + milliseconds(30)).size(), 0u);
  EXPECT_EQ(p.pending(), 0u);
}

TEST(FrameStream, LogKeepsTheNewestFramesWithinItsLimit) {
  SimOptions opt;
  opt.frame_log_limit = 3;
  SimBusFixture bus(opt, 5);
  ASSERT_TRUE(bus.ok());
  for (uint8_t id = 1; id <= 5; ++id) bus.client.transact(frame(id, kInstPing), 6);
  ASSERT_TRUE(bus.sim.waitForFrames(5, milliseconds(1000)));
  const auto log = bus.sim.frames();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log.front().id, 3);
  const auto tail = bus.sim.framesFrom(4);
  ASSERT_EQ(tail.size(), 1u);
  EXPECT_EQ(tail[0].id, 5);
  EXPECT_EQ(bus.sim.framesFrom(0).size(), 3u);
  EXPECT_TRUE(bus.sim.framesFrom(9).empty());
  bus.sim.clearFrames();
  EXPECT_EQ(bus.sim.frameCount(), 0u);
}
