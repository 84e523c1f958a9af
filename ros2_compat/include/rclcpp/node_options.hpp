#pragma once

namespace rclcpp {

class NodeOptions {
 public:
  NodeOptions() = default;
};

}  // namespace rclcpp
