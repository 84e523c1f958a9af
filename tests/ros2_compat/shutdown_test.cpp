// Publishing and spinning into a context that is gone, and the console line format.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>

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
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      line, m, std::regex(R"(\[INFO\] \[([0-9]+)\.[0-9]{9}\] \[robot_cmd_processor\]: Get robot joint num not equal 6!\n)")))
      << line;
  EXPECT_LE(std::abs(std::stoll(m[1]) - static_cast<long long>(before)), 2);
}

}  // namespace
