#pragma once

#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/bool.hpp"

// The node "Motor_state_node": publishes the execution loop's flags. It is
// never spun; the interpolation thread publishes through it.
class motor_state : public rclcpp::Node {
 public:
  motor_state();
  virtual ~motor_state();

  void publishMotorState(bool* value);
  void publishGripperCmdState(bool* value);
  void publishSystemState(bool* value);

 private:
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr motor_state_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr gripper_cmd_state_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr system_state_pub_;
};
