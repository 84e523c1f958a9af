#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rclcpp/message_type_support.hpp"
#include "std_msgs/msg/header.hpp"

namespace sensor_msgs {
namespace msg {

struct JointState {
  using SharedPtr = std::shared_ptr<JointState>;
  using ConstSharedPtr = std::shared_ptr<const JointState>;

  std_msgs::msg::Header header;
  std::vector<std::string> name;
  std::vector<double> position;
  std::vector<double> velocity;
  std::vector<double> effort;
};

}  // namespace msg
}  // namespace sensor_msgs

RCLCPP_COMPAT_DECLARE_TYPE_SUPPORT(sensor_msgs::msg::JointState)
