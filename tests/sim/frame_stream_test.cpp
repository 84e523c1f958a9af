// Frames cut out of a byte stream however the bytes happen to arrive.
#include <gtest/gtest.h>

#include "bus_client.h"

using namespace sim_test;
using namespace servo_sim;

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
