// What spin runs, when and where: timer rates, skipped periods, both callback
// forms, and callbacks only on the spinning thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/string.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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

struct TimerLoad {
  std::chrono::milliseconds work;
  int min_ticks;
};
void PrintTo(const TimerLoad& load, std::ostream* os) { *os << load.work.count() << " ms of work a tick"; }

class TimerRate : public SpinDispatch, public ::testing::WithParamInterface<TimerLoad> {};

// Fixed rate: a 6 ms callback on a 10 ms timer still runs 100 times a second;
// scheduling from the end of each call would give about 62.
TEST_P(TimerRate, TenMillisecondTimerTicksAHundredTimesASecond) {
  int ticks = 0;
  auto timer = node_->create_wall_timer(10ms, [&ticks] {
    ++ticks;
    std::this_thread::sleep_for(GetParam().work);
  });
  auto stop = stopAfter(1000ms);
  rclcpp::spin(node_);
  EXPECT_GE(ticks, GetParam().min_ticks);
  EXPECT_LE(ticks, 110);
}

INSTANTIATE_TEST_SUITE_P(Callbacks, TimerRate, ::testing::Values(TimerLoad{0ms, 90}, TimerLoad{6ms, 85}),
                         [](const auto& info) { return info.param.work.count() == 0 ? "Idle" : "Busy"; });

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

using std_msgs::msg::Bool;
using std_msgs::msg::Float64MultiArray;

struct CommandSink {
  void onStop(const std_msgs::msg::String& msg) const { stop_data = msg.data; }
  mutable std::string stop_data;
};

TEST_F(SpinDispatch, CallbacksGetTheMessageByReferenceOrSharedPointerOnTheSpinningThread) {
  CommandSink sink;
  std::vector<double> by_pointer;
  bool late_served = false;
  std::thread::id callback_thread;
  auto on_stop = node_->create_subscription<std_msgs::msg::String>(
      "stop_topic", 1, std::bind(&CommandSink::onStop, &sink, std::placeholders::_1));
  auto on_movj = node_->create_subscription<Float64MultiArray>(
      "movj_s_topic", 10, [&](std::shared_ptr<Float64MultiArray> msg) {
        callback_thread = std::this_thread::get_id();
        by_pointer = msg->data;
      });
  // A subscription added while spinning must be served as well.
  rclcpp::Subscription<Bool>::SharedPtr late;
  auto add_late = node_->create_wall_timer(20ms, [&] {
    if (!late) {
      late = node_->create_subscription<Bool>("recover_topic", 1, [&](const Bool& msg) { late_served = msg.data; });
    }
  });
  std::atomic<bool> done{false};
  auto check = node_->create_wall_timer(10ms, [&] {
    if (!sink.stop_data.empty() && !by_pointer.empty() && late_served) {
      done = true;
      rclcpp::shutdown();
    }
  });
  auto stop = stopAfter(10000ms);

  // Publishers that are never spun publish from another thread.
  auto pub_node = std::make_shared<rclcpp::Node>("publisher_side");
  auto stop_pub = pub_node->create_publisher<std_msgs::msg::String>("stop_topic", 1);
  auto movj_pub = pub_node->create_publisher<Float64MultiArray>("movj_s_topic", 10);
  auto recover_pub = pub_node->create_publisher<Bool>("recover_topic", 1);
  std_msgs::msg::String stop_msg;
  stop_msg.data = "stop";
  Float64MultiArray movj;
  movj.data = {0.1, 0.2, 0.3};
  Bool flag;
  flag.data = true;
  std::thread publisher([&] {
    while (!done && rclcpp::ok()) {
      stop_pub->publish(stop_msg);
      movj_pub->publish(movj);
      recover_pub->publish(flag);
      std::this_thread::sleep_for(5ms);
    }
  });
  rclcpp::spin(node_);
  done = true;
  publisher.join();

  EXPECT_EQ(sink.stop_data, "stop");
  EXPECT_EQ(by_pointer, (std::vector<double>{0.1, 0.2, 0.3}));
  EXPECT_TRUE(late_served);
  EXPECT_EQ(callback_thread, std::this_thread::get_id());
}

}  // namespace
