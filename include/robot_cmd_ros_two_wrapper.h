#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/string.hpp"

class Interpolator;

// The node "robot_cmd_processor": turns command topics into commands queued
// on the Interpolator and publishes the arm's state every 10 ms. Every
// callback and the timer run on the thread that spins the node.
class RobotCmdRosTwoWrapper : public rclcpp::Node {
 public:
  explicit RobotCmdRosTwoWrapper(Interpolator* interpolator);
  virtual ~RobotCmdRosTwoWrapper();

  RobotCmdRosTwoWrapper(const RobotCmdRosTwoWrapper&) = delete;
  RobotCmdRosTwoWrapper& operator=(const RobotCmdRosTwoWrapper&) = delete;

  // Same paths as serve on and movj, without a topic.
  void enableCmd(bool on) const;
  void jointPos(const std::vector<double>& target, double vel_scale, double unused) const;

 private:
  void testCallback(const std_msgs::msg::String& msg) const;
  void stopCallback(const std_msgs::msg::String& msg) const;
  void serveOnCallback(const std_msgs::msg::Bool& msg) const;
  void movjCallback(const std_msgs::msg::Float64MultiArray& msg) const;
  void movjSCallback(std::shared_ptr<std_msgs::msg::Float64MultiArray> msg) const;
  void setHomeCallback(const std_msgs::msg::String& msg) const;
  void recoverCallback(const std_msgs::msg::Bool& msg) const;
  void graspButtonCallback(const std_msgs::msg::Bool& msg);
  void timerCallback();
  void followBarmCallback(const std_msgs::msg::String& msg);
  void getBarmCallback(const sensor_msgs::msg::JointState& msg);

  void planJointMove(const std::vector<double>& target, double scale) const;

  rclcpp::TimerBase::SharedPtr timer_;
  rclcpp::Subscription<std_msgs::msg::String>::SharedPtr test_sub_;
  rclcpp::Subscription<std_msgs::msg::String>::SharedPtr stop_sub_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr serve_on_sub_;
  rclcpp::Subscription<std_msgs::msg::Float64MultiArray>::SharedPtr movj_sub_;
  rclcpp::Subscription<std_msgs::msg::Float64MultiArray>::SharedPtr movj_s_sub_;
  rclcpp::Subscription<std_msgs::msg::String>::SharedPtr set_home_sub_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr recover_sub_;
  rclcpp::Publisher<sensor_msgs::msg::JointState>::SharedPtr a_arm_joint_pos_pub_;
  rclcpp::Publisher<std_msgs::msg::Float64MultiArray>::SharedPtr a_arm_tcp_posture_pub_;
  rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr b_arm_joint_pos_sub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr a_arm_motor_enable_pub_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr grasp_button_sub_;
  rclcpp::Subscription<std_msgs::msg::String>::SharedPtr follow_b_arm_sub_;

  Interpolator* interpolator_;  // not owned
  int32_t axis_num_;
  std::vector<double> b_arm_joint_pos_;
  std::mutex b_arm_mutex_;
  std::mutex grasp_mutex_;
  bool grip_signal_ = false;
};
