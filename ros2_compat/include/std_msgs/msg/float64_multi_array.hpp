#pragma once

#include <memory>
#include <vector>

#include "rclcpp/message_type_support.hpp"
#include "std_msgs/msg/multi_array_layout.hpp"

namespace std_msgs {
namespace msg {

struct Float64MultiArray {
  using SharedPtr = std::shared_ptr<Float64MultiArray>;
  using ConstSharedPtr = std::shared_ptr<const Float64MultiArray>;

  MultiArrayLayout layout;
  std::vector<double> data;
};

}  // namespace msg
}  // namespace std_msgs

RCLCPP_COMPAT_DECLARE_TYPE_SUPPORT(std_msgs::msg::Float64MultiArray)
