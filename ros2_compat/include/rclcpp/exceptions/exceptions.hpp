#pragma once

#include <stdexcept>
#include <string>

namespace rclcpp {
namespace exceptions {

// What rclcpp throws when the middleware fails under it, such as a DDS
// participant that cannot be created at init.
class RCLError : public std::runtime_error {
 public:
  explicit RCLError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace exceptions
}  // namespace rclcpp
