#include "rclcpp/timer.hpp"

namespace rclcpp {

TimerBase::TimerBase(std::chrono::nanoseconds period)
    : period_(period.count() > 0 ? period : std::chrono::nanoseconds(1)),
      next_call_(std::chrono::steady_clock::now() + period_) {}

void TimerBase::advance(std::chrono::steady_clock::time_point now) {
  next_call_ += period_;
  if (next_call_ <= now) {
    const auto missed = (now - next_call_) / period_ + 1;
    next_call_ += missed * period_;
  }
}

}  // namespace rclcpp
