#pragma once

#include <memory>

#include "rclcpp/message_type_support.hpp"

namespace std_msgs {
namespace msg {

struct Bool {
  using SharedPtr = std::shared_ptr<Bool>;
  using ConstSharedPtr = std::shared_ptr<const Bool>;

  bool data{false};
};

}  // namespace msg
}  // namespace std_msgs

RCLCPP_COMPAT_DECLARE_TYPE_SUPPORT(std_msgs::msg::Bool)
