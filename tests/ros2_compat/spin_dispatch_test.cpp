// What spin runs, when and where: timer rate, skipped periods, and
// shared-pointer callbacks only on the spinning thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "std_msgs/msg/float64_multi_array.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using std_msgs::msg::Float64MultiArray;

class SpinDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(arm_test::reserveRosDomainId(), 0);
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("spin_dispatch");
  }
  void TearDown() override {
    node_.reset();
    rclcpp::shutdown();
  }
  // Ends the spin after the given time at the latest.
  rclcpp::TimerBase::SharedPtr stopAfter(std::chrono::milliseconds limit) {
    return node_->create_wall_timer(limit, [] { rclcpp::shutdown(); });
  }
  std::shared_ptr<rclcpp::Node> node_;
};

// Fixed rate: a 6 ms callback on a 10 ms timer still runs 100 times a second;
// scheduling from the end of each call would give about 62.
TEST_F(SpinDispatch, BusyTenMillisecondTimerTicksAHundredTimesASecond) {
  int ticks = 0;
  auto timer = node_->create_wall_timer(10ms, [&ticks] {
    ++ticks;
    std::this_thread::sleep_for(6ms);
  });
  auto stop = stopAfter(1000ms);
  rclcpp::spin(node_);
  EXPECT_GE(ticks, 85);
  EXPECT_LE(ticks, 110);
}

TEST_F(SpinDispatch, MissedPeriodsAreSkippedNotMadeUp) {
  std::vector<Clock::time_point> starts;
  Clock::time_point stall_end;
  auto timer = node_->create_wall_timer(10ms, [&] {
    starts.push_back(Clock::now());
    if (starts.size() == 3) {
      std::this_thread::sleep_for(55ms);
      stall_end = Clock::now();
    }
  });
  auto stop = stopAfter(300ms);
  rclcpp::spin(node_);
  ASSERT_GT(starts.size(), 5u);
  // One overdue call right away (two if the stall ended on a due time);
  // catching up would fire all five missed periods back to back.
  int burst = 0;
  for (const auto& t : starts) burst += t >= stall_end && t < stall_end + 1ms;
  EXPECT_LE(burst, 2);
}

TEST_F(SpinDispatch, SharedPointerCallbackRunsOnTheSpinningThreadWhileAnotherThreadPublishes) {
  std::vector<double> received;
  std::thread::id callback_thread;
  auto sub = node_->create_subscription<Float64MultiArray>(
      "movj_s_topic", 10, [&](std::shared_ptr<Float64MultiArray> msg) {
        callback_thread = std::this_thread::get_id();
        received = msg->data;
        rclcpp::shutdown();
      });
  auto stop = stopAfter(10000ms);
  // A publisher node that is never spun publishes from its own thread.
  auto pub_node = std::make_shared<rclcpp::Node>("publisher_side");
  auto pub = pub_node->create_publisher<Float64MultiArray>("movj_s_topic", 10);
  Float64MultiArray movj;
  movj.data = {0.1, 0.2, 0.3};
  std::atomic<bool> done{false};
  std::thread publisher([&] {
    while (!done && rclcpp::ok()) {
      pub->publish(movj);
      std::this_thread::sleep_for(5ms);
    }
  });
  rclcpp::spin(node_);
  done = true;
  publisher.join();
  EXPECT_EQ(received, movj.data);
  EXPECT_EQ(callback_thread, std::this_thread::get_id());
}

}  // namespace
