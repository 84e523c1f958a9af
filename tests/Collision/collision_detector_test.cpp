// Collision detection against the torque maxima learned into "torque_max.txt".
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "Collision/collision_detector_at.h"
#include "ros_init.h"
#include "stdout_capture.h"

namespace {

using V = std::vector<double>;

// The file name is fixed, so each case works in a directory of its own.
class CollisionDetectorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { arm_test::initRosOnce(); }
  void SetUp() override {
    char tmpl[] = "/tmp/collision_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::filesystem::current_path(dir_ = tmpl);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  static std::string file() { return {std::istreambuf_iterator<char>(std::ifstream("torque_max.txt").rdbuf()), {}}; }
  int step(const V& torque, bool learn = false, double time = 0.0) {
    return detector_.detect(torque, V(torque.size()), V(torque.size()), learn, false, false, time);
  }
  std::string dir_;
  CollisionDetector_AT detector_;
  arm_test::StdoutCapture out_;
};

TEST_F(CollisionDetectorTest, MissingOrDamagedFileFallsBackToTheDefaults) {
  EXPECT_EQ(step(V(6, 149.0)), 0);  // 1.5 x 100 is the default threshold
  EXPECT_EQ(file(),
            "1.50000000 100.00000000 100.00000000 100.00000000 100.00000000 100.00000000 100.00000000 ");
  std::ofstream("torque_max.txt") << "nan 1 -2 0 abc inf";
  CollisionDetector_AT damaged;
  damaged.detect(V(6), V(6), V(6), false, false, false, 0.0);
  EXPECT_EQ(std::tie(damaged.safe_rate, damaged.torque_max),
            std::make_tuple(1.5, V{1, 100, 100, 100, 100, 100}));
}

TEST_F(CollisionDetectorTest, AverageOfTheLastSixAboveSafeRateTimesMaximumIsACollision) {
  std::ofstream("torque_max.txt") << "2 1 2 3\n4 5 6";
  V torque = {2.0, 4.0, 6.0, 8.0, 10.0, 12.0};  // exactly at the threshold
  EXPECT_EQ(step(torque), 0);
  torque[4] = -10.5;
  for (int k = 0; k < 5; ++k) EXPECT_EQ(step(torque), 0) << k;  // the 10.0 is still in the window
  EXPECT_EQ(step(torque), 1);
  const V data = detector_.resultData();
  ASSERT_EQ(data.size(), 4u + 6 * 6);
  // Result, blocks, joints, a flag per joint; the threshold of joint 6.
  EXPECT_EQ(V(data.begin() + 1, data.begin() + 10), (V{1, 6, 6, 0, 0, 0, 0, 1, 0}));
  EXPECT_DOUBLE_EQ(data[4 + 12 + 5], 12.0);
}

TEST_F(CollisionDetectorTest, LearnedMaximaAreSavedAfterFiveSecondsAndAFailedSaveIsReported) {
  for (double t : {10.0, 15.0}) step({1.0, -3.0}, true, t);
  EXPECT_EQ(file(), "");
  step({1.0, -3.0}, true, 15.005);
  EXPECT_EQ(file(), "1.50000000 1.00000000 3.00000000 ");
  std::filesystem::remove_all(dir_);  // nothing can be saved into a removed directory
  detector_.myCallback2(std::make_shared<std_msgs::msg::Bool>());
  step({1.0, -3.0});
  EXPECT_EQ(arm_test::countOf(out_.text(), "torque_max.txt could not be saved!"), 1);
}

TEST_F(CollisionDetectorTest, InputOfAnotherShapeIsRefusedAndLeavesNoTrace) {
  auto msg = std::make_shared<std_msgs::msg::Float64MultiArray>();
  msg->data = {2.5, 0.0, 0.0, 2, 10, 20, 0.1, 0.2, 7, 8, 9};
  detector_.myCallback(msg);
  EXPECT_EQ(std::tie(detector_.torque_in_, detector_.joint_pos_in_, detector_.joint_vel_in_),
            std::make_tuple(V{10, 20}, V{0.1, 0.2}, V{7, 8, 9}));
  // More joints announced than held, a negative count, another count than the first step's.
  for (const V& bad : {V{3, 0, 0, 4, 1, 2, 3}, V{3, 0, 0, -1}, V{3, 0, 0, 3, 1, 2, 3, 4, 5, 6}})
    msg->data = bad, detector_.myCallback(msg);
  EXPECT_EQ(detector_.time_cur, 2.5);
  MovingAverageFilter& f = detector_.filter_;
  for (const V& bad : {V{1, 2, 3}, V{1}}) EXPECT_TRUE(f.filter(bad, 6).empty());
  EXPECT_TRUE(f.filter({1.0, 2.0}, 0).empty());
  EXPECT_EQ(f.filter({4.0, 6.0}, 6), (V{7.0, 13.0}));
  EXPECT_EQ(arm_test::countOf(out_.text(), "sample dropped"), 3);
}

}  // namespace
