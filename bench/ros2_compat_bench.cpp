// Cost of the ROS 2 layer on the paths the controller uses every tick.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"

namespace {

sensor_msgs::msg::JointState sixJoints() {
  sensor_msgs::msg::JointState msg;
  msg.header.frame_id = "  ";
  for (int i = 1; i <= 6; ++i) {
    msg.name.push_back("joint" + std::to_string(i));
    msg.position.push_back(0.1 * i);
  }
  return msg;
}

// The 10 ms state message, with nobody listening and with a local subscriber.
void BM_PublishJointState(benchmark::State& state) {
  arm_test::reserveRosDomainId();
  rclcpp::init(0, nullptr);
  {
    auto node = std::make_shared<rclcpp::Node>("bench_publisher");
    auto pub = node->create_publisher<sensor_msgs::msg::JointState>("A_arm_joint_pos_topic", 10);
    rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr sub;
    if (state.range(0) != 0) {
      sub = node->create_subscription<sensor_msgs::msg::JointState>("A_arm_joint_pos_topic", 10,
                                                                    [](const sensor_msgs::msg::JointState&) {});
    }
    auto msg = sixJoints();
    for (auto _ : state) {
      msg.header.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
      pub->publish(msg);
    }
  }
  rclcpp::shutdown();
}
BENCHMARK(BM_PublishJointState)->Arg(0)->Arg(1)->ArgName("subscriber");

// From publish on one thread to the callback on the spinning thread.
void BM_PublishToCallback(benchmark::State& state) {
  arm_test::reserveRosDomainId();
  rclcpp::init(0, nullptr);
  {
    std::mutex mutex;
    std::condition_variable cv;
    uint64_t received = 0;
    auto node = std::make_shared<rclcpp::Node>("bench_receiver");
    auto sub = node->create_subscription<std_msgs::msg::Bool>("serve_on_topic", 10, [&](const std_msgs::msg::Bool&) {
      std::lock_guard<std::mutex> lock(mutex);
      ++received;
      cv.notify_one();
    });
    auto pub = node->create_publisher<std_msgs::msg::Bool>("serve_on_topic", 10);
    std::thread spinner([node] { rclcpp::spin(node); });
    uint64_t sent = 0;
    std_msgs::msg::Bool msg;
    for (auto _ : state) {
      pub->publish(msg);
      ++sent;
      std::unique_lock<std::mutex> lock(mutex);
      cv.wait(lock, [&] { return received >= sent; });
    }
    rclcpp::shutdown();
    spinner.join();
  }
}
BENCHMARK(BM_PublishToCallback)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
