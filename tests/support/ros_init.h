#pragma once

#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"

namespace arm_test {

// One rclcpp context per test process, on a domain of its own.
inline void initRosOnce() {
  static const bool ready = [] {
    reserveRosDomainId();
    rclcpp::init(0, nullptr);
    return true;
  }();
  (void)ready;
}

}  // namespace arm_test
