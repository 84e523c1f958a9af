#pragma once

#include <cstdint>

#include "builtin_interfaces/msg/time.hpp"
#include "rcl/time.h"

namespace rclcpp {

class Time {
 public:
  explicit Time(int64_t nanoseconds = 0, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME)
      : nanoseconds_(nanoseconds), clock_type_(clock_type) {}

  operator builtin_interfaces::msg::Time() const;

  int64_t nanoseconds() const { return nanoseconds_; }
  double seconds() const { return static_cast<double>(nanoseconds_) * 1e-9; }
  rcl_clock_type_t get_clock_type() const { return clock_type_; }

 private:
  int64_t nanoseconds_;
  rcl_clock_type_t clock_type_;
};

}  // namespace rclcpp
