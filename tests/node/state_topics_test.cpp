// The 10 ms state topics as another process sees them. The figures of a
// moved arm are compared with the stream server end to end in tests/e2e.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "node_harness.h"

namespace node_test {
namespace {

class StateTopics : public NodeTest {};

TEST_F(StateTopics, BeforeAnyReadingEveryTickCarriesSixZeroJointsZeroPoseAndDisabled) {
  const std::string out = runPeer({"listen", "1000"});
  int counts[3] = {0, 0, 0};
  const size_t counts_at = out.find("listen joint=");
  ASSERT_NE(counts_at, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + counts_at, "listen joint=%d pose=%d enable=%d", &counts[0],
                        &counts[1], &counts[2]),
            3);
  // 100 per second; the bounds only allow for scheduling on a busy machine.
  for (int count : counts) {
    EXPECT_GE(count, 80) << out;
    EXPECT_LE(count, 120) << out;
  }
  EXPECT_NE(out.find("joint frame_id=[  ]"), std::string::npos) << out;
  EXPECT_NE(out.find("names=joint1;joint2;joint3;joint4;joint5;joint6; positions=0;0;0;0;0;0; "
                     "velocity=0 effort=0\npose dims=0 data=0;0;0;0;0;0;\nenable=0"),
            std::string::npos)
      << out;
  const size_t stamp_at = out.find("stamp=");
  ASSERT_NE(stamp_at, std::string::npos);
  EXPECT_NEAR(std::atol(out.c_str() + stamp_at + 6), static_cast<long>(std::time(nullptr)), 5);
}

}  // namespace
}  // namespace node_test
