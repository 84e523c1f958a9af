#include "moving_average_filter.h"

#include <gtest/gtest.h>

namespace {

TEST(MovingAverageFilter, AveragesOverTheGrowingThenSlidingWindow) {
  MovingAverageFilter f;
  const double expected[] = {1, 1.5, 2, 2.5, 3, 3.5, 4.5};
  for (int k = 0; k < 7; ++k) {
    const std::vector<double> out = f.filter({static_cast<double>(k + 1)}, 6);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_DOUBLE_EQ(out[0], expected[k]) << k;
  }
  EXPECT_EQ(f.window_.size(), 6u);
}

TEST(MovingAverageFilter, KeepsElementsApartOverALongRun) {
  MovingAverageFilter f;
  std::vector<double> out;
  for (int k = 0; k < 1000; ++k) out = f.filter({1.0 * k, -2.0 * k, 0.1}, 6);
  EXPECT_NEAR(out[0], 996.5, 1e-9);  // mean of 994..999
  EXPECT_NEAR(out[1], -1993.0, 1e-9);
  EXPECT_NEAR(out[2], 0.1, 1e-12);
}

TEST(MovingAverageFilter, RefusesSamplesOfAnotherSizeAndAnEmptyWindow) {
  MovingAverageFilter f;
  f.filter({1.0, 2.0}, 6);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(f.filter({1.0, 2.0, 3.0}, 6).empty());
  EXPECT_TRUE(f.filter({1.0}, 6).empty());
  EXPECT_TRUE(f.filter({1.0, 2.0}, 0).empty());
  EXPECT_NE(testing::internal::GetCapturedStdout().find("dropped"), std::string::npos);
  const std::vector<double> out = f.filter({3.0, 4.0}, 6);
  EXPECT_DOUBLE_EQ(out[0], 2.0);
  EXPECT_DOUBLE_EQ(out[1], 3.0);
}

}  // namespace
