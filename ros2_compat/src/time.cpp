#include <time.h>

#include "rclcpp/clock.hpp"
#include "rclcpp/time.hpp"

namespace rclcpp {

Time::operator builtin_interfaces::msg::Time() const {
  constexpr int64_t kNsPerSec = 1000000000;
  builtin_interfaces::msg::Time t;
  int64_t sec = nanoseconds_ / kNsPerSec;
  int64_t nsec = nanoseconds_ % kNsPerSec;
  if (nsec < 0) {
    sec -= 1;
    nsec += kNsPerSec;
  }
  t.sec = static_cast<int32_t>(sec);
  t.nanosec = static_cast<uint32_t>(nsec);
  return t;
}

Time Clock::now() const {
  // Without simulated time, ROS time is the system clock.
  timespec ts{};
  clock_gettime(clock_type_ == RCL_STEADY_TIME ? CLOCK_MONOTONIC : CLOCK_REALTIME, &ts);
  return Time(static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec, clock_type_);
}

}  // namespace rclcpp
