#include "Collision/moving_average_filter.h"

#include <gtest/gtest.h>

#include "stdout_capture.h"

namespace {

// The sliding window itself is checked through the collision threshold.
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
