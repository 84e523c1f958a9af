#pragma once

#include <cstdint>

#include "builtin_interfaces/msg/time.hpp"
#include "rcl/time.h"

namespace rclcpp {

class Time {
 public:
  explicit Time(int64_t nanoseconds = 0, rcl_clock_type_t /*clock_type*/ = RCL_SYSTEM_TIME)
      : nanoseconds_(nanoseconds) {}

  operator builtin_interfaces::msg::Time() const;

  int64_t nanoseconds() const { return nanoseconds_; }

 private:
  int64_t nanoseconds_;
};

}  // namespace rclcpp
