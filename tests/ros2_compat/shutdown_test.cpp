// Ending a running node: signals, shutdown from another thread, publishing
// into a context that is gone, and the console line format.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "child_process.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "std_msgs/msg/bool.hpp"

namespace {

using namespace std::chrono_literals;

class SignalShutdown : public ::testing::TestWithParam<int> {};

TEST_P(SignalShutdown, FirstSignalEndsSpinSecondEndsProcess) {
  ASSERT_GE(arm_test::reserveRosDomainId(), 0);
  arm_test::ChildProcess child({arm_test::executableDir() + "/ros2_compat_spin_child"});
  ASSERT_TRUE(child.waitForOutput("spinning", 10s)) << child.output();

  child.signal(GetParam());
  ASSERT_TRUE(child.waitForOutput("spin returned ok=0", 5s)) << child.output();
  // The signal already shut the context down, so this shutdown finds nothing to do.
  ASSERT_TRUE(child.waitForOutput("shutdown returned 0", 5s)) << child.output();
  EXPECT_TRUE(child.running());

  // rclcpp::shutdown restored the default action.
  child.signal(GetParam());
  EXPECT_EQ(child.wait(5000ms), 128 + GetParam()) << child.output();
}

INSTANTIATE_TEST_SUITE_P(IntAndTerm, SignalShutdown, ::testing::Values(SIGINT, SIGTERM));

class ContextShutdown : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(arm_test::reserveRosDomainId(), 0);
    rclcpp::init(0, nullptr);
  }
  void TearDown() override { rclcpp::shutdown(); }
};

TEST_F(ContextShutdown, ShutdownFromAnotherThreadWakesASpinWithNothingToDo) {
  auto node = std::make_shared<rclcpp::Node>("idle_node");
  auto sub = node->create_subscription<std_msgs::msg::Bool>("grasp_button_topic", 1,
                                                            [](const std_msgs::msg::Bool&) {});
  std::thread stopper([] {
    std::this_thread::sleep_for(100ms);
    rclcpp::shutdown();
  });
  rclcpp::spin(node);
  stopper.join();
  EXPECT_FALSE(rclcpp::ok());
}

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
  std_msgs::msg::Bool msg;
  msg.data = true;
  for (int i = 0; i < 100; ++i) pub->publish(msg);
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
  // "[INFO] [<sec>.<9 digits>] [<name>]: <message>"
  const std::string head = "[INFO] [", tail = "] [robot_cmd_processor]: Get robot joint num not equal 6!\n";
  ASSERT_GT(line.size(), head.size() + tail.size()) << line;
  ASSERT_EQ(line.substr(0, head.size()), head) << line;
  ASSERT_EQ(line.substr(line.size() - tail.size()), tail) << line;
  const std::string stamp = line.substr(head.size(), line.size() - head.size() - tail.size());
  const size_t dot = stamp.find('.');
  ASSERT_TRUE(dot != std::string::npos && dot > 0 && stamp.size() - dot - 1 == 9) << line;
  ASSERT_EQ(std::string(stamp).erase(dot, 1).find_first_not_of("0123456789"), std::string::npos) << line;
  EXPECT_LE(std::abs(std::stoll(stamp.substr(0, dot)) - static_cast<long long>(before)), 2);
}

TEST_F(ContextShutdown, SystemClockStampSplitsIntoSecondsAndNanoseconds) {
  const builtin_interfaces::msg::Time stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  EXPECT_LE(std::abs(static_cast<long long>(stamp.sec) - static_cast<long long>(std::time(nullptr))), 2);
  EXPECT_LT(stamp.nanosec, 1000000000u);
  const builtin_interfaces::msg::Time exact = rclcpp::Time(1700000000123456789LL);
  EXPECT_EQ(exact.sec, 1700000000);
  EXPECT_EQ(exact.nanosec, 123456789u);
}

}  // namespace
