#include "Collision/motor_state.h"

#include <cstdio>

namespace {
constexpr size_t kQueueDepth = 10;

void publishBool(const rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr& pub, const bool* value) {
  std_msgs::msg::Bool msg;
  msg.data = *value;
  pub->publish(msg);
}
}  // namespace

motor_state::motor_state() : rclcpp::Node("Motor_state_node") {
  motor_state_pub_ = create_publisher<std_msgs::msg::Bool>("motor_state", rclcpp::QoS(kQueueDepth));
  gripper_cmd_state_pub_ =
      create_publisher<std_msgs::msg::Bool>("gripper_cmd_state", rclcpp::QoS(kQueueDepth));
  system_state_pub_ =
      create_publisher<std_msgs::msg::Bool>("system_state", rclcpp::QoS(kQueueDepth));
  puts("Motor_state_node construct.");
}

motor_state::~motor_state() {
  system_state_pub_.reset();
  gripper_cmd_state_pub_.reset();
  motor_state_pub_.reset();
}

void motor_state::publishMotorState(bool* value) { publishBool(motor_state_pub_, value); }

void motor_state::publishGripperCmdState(bool* value) {
  publishBool(gripper_cmd_state_pub_, value);
}

void motor_state::publishSystemState(bool* value) { publishBool(system_state_pub_, value); }
