#pragma once

#include <memory>
#include <string>

#include "rclcpp/message_type_support.hpp"

namespace std_msgs {
namespace msg {

struct String {
  using SharedPtr = std::shared_ptr<String>;
  using ConstSharedPtr = std::shared_ptr<const String>;

  std::string data;
};

}  // namespace msg
}  // namespace std_msgs

RCLCPP_COMPAT_DECLARE_TYPE_SUPPORT(std_msgs::msg::String)
