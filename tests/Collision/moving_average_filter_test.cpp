#include "moving_average_filter.h"

#include <gtest/gtest.h>

#include "stdout_capture.h"

namespace {

// Each element is averaged on its own, over a window that first grows and then
// slides; a long run must not drift.
TEST(MovingAverageFilter, AveragesEachElementOverTheGrowingThenSlidingWindow) {
  MovingAverageFilter f;
  const double expected[] = {1, 1.5, 2, 2.5, 3, 3.5, 4.5};
  for (int k = 0; k < 1000; ++k) {
    const std::vector<double> out = f.filter({k + 1.0, -2.0 * k, 0.1}, 6);
    ASSERT_EQ(out.size(), 3u);
    if (k < 7) {
      EXPECT_DOUBLE_EQ(out[0], expected[k]) << k;
    }
    if (k == 999) {
      EXPECT_NEAR(out[0], 997.5, 1e-9);  // mean of 995..1000
      EXPECT_NEAR(out[1], -1993.0, 1e-9);
      EXPECT_NEAR(out[2], 0.1, 1e-12);
    }
  }
}

TEST(MovingAverageFilter, RefusesSamplesOfAnotherSizeAndAnEmptyWindow) {
  MovingAverageFilter f;
  f.filter({1.0, 2.0}, 6);
  arm_test::StdoutCapture out;
  EXPECT_TRUE(f.filter({1.0, 2.0, 3.0}, 6).empty());
  EXPECT_TRUE(f.filter({1.0}, 6).empty());
  EXPECT_TRUE(f.filter({1.0, 2.0}, 0).empty());
  EXPECT_NE(out.text().find("dropped"), std::string::npos);
  const std::vector<double> avg = f.filter({3.0, 4.0}, 6);
  EXPECT_DOUBLE_EQ(avg[0], 2.0);
  EXPECT_DOUBLE_EQ(avg[1], 3.0);
}

}  // namespace
