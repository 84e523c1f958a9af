// Publishing and spinning into a context that is gone, and the console line format.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>

#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "std_msgs/msg/bool.hpp"

namespace {

using namespace std::chrono_literals;

class ContextShutdown : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(arm_test::reserveRosDomainId(), 0);
    rclcpp::init(0, nullptr);
  }
  void TearDown() override { rclcpp::shutdown(); }
};

TEST_F(ContextShutdown, PublishAndSpinAfterShutdownAreSilentNoOps) {
  auto node = std::make_shared<rclcpp::Node>("Motor_state_node");
  auto pub = node->create_publisher<std_msgs::msg::Bool>("motor_state", 10);
  int ticks = 0;
  auto timer = node->create_wall_timer(1ms, [&ticks] { ++ticks; });
  EXPECT_TRUE(rclcpp::shutdown());
  EXPECT_FALSE(rclcpp::shutdown());
  EXPECT_FALSE(rclcpp::ok());

  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  rclcpp::spin(node);  // returns at once
  EXPECT_EQ(ticks, 0);
  for (int i = 0; i < 100; ++i) pub->publish(std_msgs::msg::Bool());
  // Endpoints and nodes released after shutdown must not complain either.
  pub.reset();
  timer.reset();
  node.reset();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ContextShutdown, InfoLineHasHumbleConsoleFormat) {
  auto node = std::make_shared<rclcpp::Node>("robot_cmd_processor");
  const std::time_t before = std::time(nullptr);
  testing::internal::CaptureStderr();
  RCLCPP_INFO(node->get_logger(), "Get robot joint num not equal %d!", 6);
  const std::string line = testing::internal::GetCapturedStderr();
  const std::string head = "[INFO] [";
  const std::string tail = "] [robot_cmd_processor]: Get robot joint num not equal 6!\n";
  ASSERT_GT(line.size(), head.size() + tail.size()) << line;
  ASSERT_EQ(line.compare(0, head.size(), head), 0) << line;
  ASSERT_EQ(line.compare(line.size() - tail.size(), tail.size(), tail), 0) << line;
  // "<sec>.<nanosec in 9 digits>"
  const std::string stamp = line.substr(head.size(), line.size() - head.size() - tail.size());
  const size_t dot = stamp.find('.');
  ASSERT_NE(dot, std::string::npos) << line;
  EXPECT_EQ(stamp.size() - dot - 1, 9u) << line;
  EXPECT_EQ(stamp.find_first_not_of("0123456789."), std::string::npos) << line;
  EXPECT_LE(std::abs(std::stoll(stamp.substr(0, dot)) - static_cast<long long>(before)), 2);
}

}  // namespace
