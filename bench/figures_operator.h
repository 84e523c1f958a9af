#pragma once

// The operator side of the whole-process figures: publishes serve on and movj
// to "robot_cmd_processor" and follows its joint and enable topics.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"

namespace figures {

constexpr int kJoints = 6;

class Operator : public rclcpp::Node {
 public:
  explicit Operator(const std::string& name) : rclcpp::Node(name) {
    movj_ = create_publisher<std_msgs::msg::Float64MultiArray>("movj_topic", rclcpp::QoS(10));
    serve_ = create_publisher<std_msgs::msg::Bool>("serve_on_topic", rclcpp::QoS(1));
    joint_sub_ = create_subscription<sensor_msgs::msg::JointState>(
        "A_arm_joint_pos_topic", rclcpp::QoS(10), [this](const sensor_msgs::msg::JointState& m) {
          std::lock_guard<std::mutex> lock(mutex_);
          joints_ = m.position;
        });
    enable_sub_ = create_subscription<std_msgs::msg::Bool>(
        "A_arm_motor_enable_topic", rclcpp::QoS(10),
        [this](const std_msgs::msg::Bool& m) { enabled_ = m.data; });
  }

  // Every joint to target at the given velocity scale.
  void movj(double target, double scale) {
    std_msgs::msg::Float64MultiArray msg;
    msg.data.assign(kJoints, target);
    msg.data.push_back(scale);
    movj_->publish(msg);
  }
  void serveOn() {
    std_msgs::msg::Bool on;
    on.data = true;
    serve_->publish(on);
  }
  bool enabled() const { return enabled_; }
  bool seenJoints() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !joints_.empty();
  }
  // Largest distance of any joint from target, or infinity without a reading.
  double distance(double target) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (joints_.size() != static_cast<size_t>(kJoints)) return INFINITY;
    double worst = 0.0;
    for (double j : joints_) worst = std::max(worst, std::fabs(j - target));
    return worst;
  }

 private:
  rclcpp::Publisher<std_msgs::msg::Float64MultiArray>::SharedPtr movj_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr serve_;
  rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr joint_sub_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr enable_sub_;
  std::mutex mutex_;
  std::vector<double> joints_;
  std::atomic<bool> enabled_{false};
};

}  // namespace figures
