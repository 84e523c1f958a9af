// The 10 ms state topics as another process sees them.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "node_harness.h"

namespace node_test {
namespace {

using namespace std::chrono_literals;

class StateTopics : public NodeTest {};

std::vector<double> numbersAfter(const std::string& out, const std::string& key) {
  std::vector<double> values;
  const size_t start = out.find(key);
  if (start == std::string::npos) return values;
  const size_t end = out.find_first_of(" \n", start + key.size());
  std::string list = out.substr(start + key.size(), end - start - key.size());
  for (size_t pos = 0; pos < list.size();) {
    const size_t semi = list.find(';', pos);
    values.push_back(std::strtod(list.substr(pos, semi - pos).c_str(), nullptr));
    pos = semi == std::string::npos ? list.size() : semi + 1;
  }
  return values;
}

TEST_F(StateTopics, BeforeAnyReadingEveryTickCarriesSixZeroJointsZeroPoseAndDisabled) {
  const std::string out = runPeer({"listen", "1000"});
  const size_t counts_at = out.find("listen joint=");
  ASSERT_NE(counts_at, std::string::npos) << out;
  int counts[3] = {0, 0, 0};
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
                     "velocity=0 effort=0"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("pose dims=0 data=0;0;0;0;0;0;\nenable=0"), std::string::npos) << out;

  const size_t stamp_at = out.find("stamp=");
  ASSERT_NE(stamp_at, std::string::npos);
  EXPECT_NEAR(std::atol(out.c_str() + stamp_at + 6), static_cast<long>(std::time(nullptr)), 5);
}

TEST_F(StateTopics, PublishedStateFollowsTheLatestReadingWithAnglesInDegrees) {
  const double joints[6] = {0.1, -0.2, 0.3, 1.5707963267948966, -0.5, 0.6};
  for (int i = 0; i < 6; ++i) {
    motors_[i]->setPosition(joints[i]);
    motors_[i]->setEnabled(true);
  }
  ASSERT_EQ(interpolator_->readMotorStates(), 0);
  interpolator_->updatePose();
  std::vector<double> pose;
  interpolator_->getPose(&pose);
  ASSERT_EQ(pose.size(), 6u);

  const std::string out = runPeer({"listen", "200"});
  const std::vector<double> positions = numbersAfter(out, "positions=");
  ASSERT_EQ(positions.size(), 6u) << out;
  for (int i = 0; i < 6; ++i) EXPECT_EQ(positions[i], joints[i]);

  const std::vector<double> published = numbersAfter(out, "data=");
  ASSERT_EQ(published.size(), 6u) << out;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(published[i], pose[i]);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(published[i], pose[i] * 57.295777754771045);
  EXPECT_NE(out.find("enable=1"), std::string::npos) << out;
}

}  // namespace
}  // namespace node_test
