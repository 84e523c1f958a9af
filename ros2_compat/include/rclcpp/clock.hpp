#pragma once

#include <memory>

#include "rcl/time.h"
#include "rclcpp/time.hpp"

namespace rclcpp {

class Clock {
 public:
  using SharedPtr = std::shared_ptr<Clock>;

  explicit Clock(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME) : clock_type_(clock_type) {}

  Time now() const;

 private:
  rcl_clock_type_t clock_type_;
};

}  // namespace rclcpp
