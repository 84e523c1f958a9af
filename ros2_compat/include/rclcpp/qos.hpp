#pragma once

#include <cstddef>

namespace rclcpp {

// Keep-last history of the given depth, reliable, volatile.
class QoS {
 public:
  QoS(size_t history_depth) : depth_(history_depth) {}  // NOLINT: implicit like rclcpp's

  size_t depth() const { return depth_; }

 private:
  size_t depth_;
};

}  // namespace rclcpp
