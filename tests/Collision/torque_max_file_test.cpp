#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "Collision/collision_detector_at.h"
#include "ros_init.h"
#include "stdout_capture.h"

namespace {

using arm_test::StdoutCapture;

const std::vector<double> kZero6(6, 0.0);

// Each case works in a directory of its own: the file name is fixed.
class CollisionDetectorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { arm_test::initRosOnce(); }
  void SetUp() override {
    char tmpl[] = "/tmp/collision_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    detector_ = std::make_unique<CollisionDetector_AT>();
  }
  void TearDown() override {
    detector_.reset();
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(dir_);
  }
  static std::string readFile() {
    std::ifstream in("torque_max.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void writeFile(const std::string& text) { std::ofstream("torque_max.txt") << text; }
  int step(const std::vector<double>& torque, bool learn = false, double time = 0.0) {
    const std::vector<double> zero(torque.size(), 0.0);
    return detector_->detect(torque, zero, zero, learn, false, false, time);
  }

  std::string dir_;
  std::filesystem::path old_cwd_;
  std::unique_ptr<CollisionDetector_AT> detector_;
};

TEST_F(CollisionDetectorTest, MissingOrDamagedValuesFallBackToTheDefaults) {
  StdoutCapture quiet;
  EXPECT_EQ(step(std::vector<double>(6, 149.0)), 0);
  std::string expected = "1.50000000 ";
  for (int i = 0; i < 6; ++i) expected += "100.00000000 ";
  EXPECT_EQ(readFile(), expected) << "a missing file is written with the defaults";

  writeFile("nan 1 -2 0 abc inf");
  detector_ = std::make_unique<CollisionDetector_AT>();
  step(kZero6);
  EXPECT_EQ(detector_->safe_rate, 1.5);
  EXPECT_EQ(detector_->torque_max, (std::vector<double>{1, 100, 100, 100, 100, 100}));
}

TEST_F(CollisionDetectorTest, ThresholdIsSafeRateTimesTheLearnedMaximum) {
  writeFile("2 1 2 3\n4 5 6");
  StdoutCapture quiet;
  std::vector<double> torque = {2.0, 4.0, 6.0, 8.0, 10.0, 12.0};  // exactly at the threshold
  EXPECT_EQ(step(torque), 0);
  torque[4] = -10.5;  // the window still averages in the 10.0 until six of these
  for (int k = 0; k < 5; ++k) EXPECT_EQ(step(torque), 0);
  EXPECT_EQ(step(torque), 1);
  EXPECT_EQ(detector_->detection_result, 1);
  const std::vector<double> data = detector_->resultData();
  ASSERT_EQ(data.size(), 4u + 6 * 6);
  EXPECT_EQ(data[1], 1.0);
  EXPECT_EQ(data[3], 6.0);
  EXPECT_EQ(data[4 + 4], 1.0);  // flag of joint 5
  EXPECT_EQ(data[4 + 3], 0.0);
  EXPECT_DOUBLE_EQ(data[4 + 12 + 5], 12.0);  // threshold of joint 6
}

TEST_F(CollisionDetectorTest, IdentificationLearnsMaximaAndSavesAfterFiveSeconds) {
  StdoutCapture quiet;
  step({1.0, -3.0}, true, 10.0);
  step({1.0, -3.0}, true, 15.0);
  EXPECT_TRUE(detector_->identification_flag_);  // exactly 5 s is not over
  EXPECT_EQ(readFile(), "");
  step({1.0, -3.0}, true, 15.005);
  EXPECT_FALSE(detector_->identification_flag_);
  EXPECT_EQ(readFile(), "1.50000000 1.00000000 3.00000000 ");
}

TEST_F(CollisionDetectorTest, FailedSaveIsReported) {
  ASSERT_EQ(rmdir(dir_.c_str()), 0);  // nothing can be created in a removed directory
  StdoutCapture out;
  step(kZero6);
  EXPECT_NE(out.text().find("torque_max.txt could not be saved!"), std::string::npos);
}

TEST_F(CollisionDetectorTest, CallbackSplitsTheArrayAndRefusesWhatItCannotHold) {
  writeFile("1.5 100 100");
  auto msg = std::make_shared<std_msgs::msg::Float64MultiArray>();
  msg->data = {2.5, 0.0, 0.0, 2, 10, 20, 0.1, 0.2, 7, 8, 9};
  StdoutCapture quiet;
  detector_->myCallback(msg);
  EXPECT_EQ(detector_->torque_in_, (std::vector<double>{10, 20}));
  EXPECT_EQ(detector_->joint_pos_in_, (std::vector<double>{0.1, 0.2}));
  EXPECT_EQ(detector_->joint_vel_in_, (std::vector<double>{7, 8, 9}));
  EXPECT_EQ(detector_->time_cur, 2.5);

  msg->data = {3.0, 0.0, 0.0, 4, 1, 2, 3};  // announces more joints than it holds
  detector_->myCallback(msg);
  msg->data = {3.0, 0.0, 0.0, -1};
  detector_->myCallback(msg);
  msg->data = {3.0, 0.0, 0.0, 3, 1, 2, 3, 4, 5, 6};  // another joint count than the first step
  EXPECT_EQ(detector_->detect({1, 2, 3}, {4, 5, 6}, {}, false, false, false, 3.0), -1);
  detector_->myCallback(msg);
  EXPECT_EQ(detector_->time_cur, 2.5);
  EXPECT_EQ(detector_->filter_.window_.size(), 1u);
}

}  // namespace
