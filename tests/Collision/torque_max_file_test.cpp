#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "collision_detector_at.h"
#include "ros_domain.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::vector<double> kZero6(6, 0.0);

// Each case works in a directory of its own: the file name is fixed.
class CollisionDetectorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const bool ready = [] {
      arm_test::reserveRosDomainId();
      rclcpp::init(0, nullptr);
      return true;
    }();
    (void)ready;
  }
  void SetUp() override {
    char tmpl[] = "/tmp/collision_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_NE(getcwd(old_cwd_, sizeof(old_cwd_)), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    detector_ = std::make_unique<CollisionDetector_AT>();
  }
  void TearDown() override {
    detector_.reset();
    ASSERT_EQ(chdir(old_cwd_), 0);
    std::system(("rm -rf " + dir_).c_str());
  }
  static std::string readFile() {
    std::ifstream in("torque_max.txt");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void writeFile(const std::string& text) { std::ofstream("torque_max.txt") << text; }

  std::string dir_;
  char old_cwd_[4096] = {};
  std::unique_ptr<CollisionDetector_AT> detector_;
};

TEST_F(CollisionDetectorTest, MissingFileIsWrittenWithTheDefaults) {
  CaptureStdout();
  EXPECT_EQ(
      detector_->detect(std::vector<double>(6, 149.0), kZero6, kZero6, false, false, false, 0.0),
      0);
  const std::string out = GetCapturedStdout();
  std::string lines;
  for (int i = 0; i < 6; ++i) lines += "torque_max[" + std::to_string(i) + "]: 100\n";
  EXPECT_EQ(out, "torque_max.txt not found!\nin_txt_file:\n" + lines + "out_txt_file:\n" + lines);
  std::string expected = "1.50000000 ";
  for (int i = 0; i < 6; ++i) expected += "100.00000000 ";
  EXPECT_EQ(readFile(), expected);
}

TEST_F(CollisionDetectorTest, ThresholdIsSafeRateTimesTheLearnedMaximum) {
  writeFile("2 1 2 3\n4 5 6");
  CaptureStdout();
  std::vector<double> torque = {2.0, 4.0, 6.0, 8.0, 10.0, 12.0};  // exactly at the threshold
  EXPECT_EQ(detector_->detect(torque, kZero6, kZero6, false, false, false, 0.0), 0);
  torque[4] = -10.5;  // the window still averages in the 10.0 until six of these
  for (int k = 0; k < 5; ++k)
    EXPECT_EQ(detector_->detect(torque, kZero6, kZero6, false, false, false, 0.0), 0);
  EXPECT_EQ(detector_->detect(torque, kZero6, kZero6, false, false, false, 0.0), 1);
  GetCapturedStdout();
  EXPECT_EQ(detector_->detection_result, 1);
  const std::vector<double> data = detector_->resultData();
  ASSERT_EQ(data.size(), 4u + 6 * 6);
  EXPECT_EQ(data[1], 1.0);
  EXPECT_EQ(data[3], 6.0);
  EXPECT_EQ(data[4 + 4], 1.0);  // flag of joint 5
  EXPECT_EQ(data[4 + 3], 0.0);
  EXPECT_DOUBLE_EQ(data[4 + 12 + 5], 12.0);  // threshold of joint 6
}

TEST_F(CollisionDetectorTest, DamagedValuesFallBackToTheDefaults) {
  writeFile("nan 1 -2 0 abc inf");
  CaptureStdout();
  detector_->detect(kZero6, kZero6, kZero6, false, false, false, 0.0);
  GetCapturedStdout();
  EXPECT_EQ(detector_->safe_rate, 1.5);
  EXPECT_EQ(detector_->torque_max, (std::vector<double>{1, 100, 100, 100, 100, 100}));
}

TEST_F(CollisionDetectorTest, IdentificationLearnsMaximaAndSavesAfterFiveSeconds) {
  CaptureStdout();
  detector_->detect({1.0, -3.0}, {0, 0}, {0, 0}, true, false, false, 10.0);
  detector_->detect({1.0, -3.0}, {0, 0}, {0, 0}, true, false, false, 15.0);
  EXPECT_TRUE(detector_->identification_flag_);  // exactly 5 s is not over
  EXPECT_EQ(readFile(), "");
  detector_->detect({1.0, -3.0}, {0, 0}, {0, 0}, true, false, false, 15.005);
  GetCapturedStdout();
  EXPECT_FALSE(detector_->identification_flag_);
  EXPECT_EQ(readFile(), "1.50000000 1.00000000 3.00000000 ");
}

TEST_F(CollisionDetectorTest, FailedSaveIsReported) {
  ASSERT_EQ(rmdir(dir_.c_str()), 0);  // nothing can be created in a removed directory
  CaptureStdout();
  detector_->detect(kZero6, kZero6, kZero6, false, false, false, 0.0);
  EXPECT_NE(GetCapturedStdout().find("torque_max.txt could not be saved!"), std::string::npos);
}

TEST_F(CollisionDetectorTest, CallbackSplitsTheArrayAndRefusesWhatItCannotHold) {
  writeFile("1.5 100 100");
  auto msg = std::make_shared<std_msgs::msg::Float64MultiArray>();
  msg->data = {2.5, 0.0, 0.0, 2, 10, 20, 0.1, 0.2, 7, 8, 9};
  CaptureStdout();
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
  GetCapturedStdout();
  EXPECT_EQ(detector_->time_cur, 2.5);
  EXPECT_EQ(detector_->filter_.window_.size(), 1u);
}

}  // namespace
