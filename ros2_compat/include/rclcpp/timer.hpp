#pragma once

#include <chrono>
#include <memory>
#include <utility>

namespace rclcpp {

// Fixed-rate: each call is due one period after the previous due time;
// periods missed while the spinning thread was busy are skipped.
class TimerBase {
 public:
  using SharedPtr = std::shared_ptr<TimerBase>;
  virtual ~TimerBase() = default;

  virtual void execute_callback() = 0;

  std::chrono::steady_clock::time_point next_call_time() const { return next_call_; }
  // Moves the due time past now after a call.
  void advance(std::chrono::steady_clock::time_point now);

 protected:
  explicit TimerBase(std::chrono::nanoseconds period);

 private:
  std::chrono::nanoseconds period_;
  std::chrono::steady_clock::time_point next_call_;
};

template <typename FunctorT>
class WallTimer : public TimerBase {
 public:
  using SharedPtr = std::shared_ptr<WallTimer<FunctorT>>;

  WallTimer(std::chrono::nanoseconds period, FunctorT&& callback)
      : TimerBase(period), callback_(std::move(callback)) {}

  void execute_callback() override { callback_(); }

 private:
  FunctorT callback_;
};

}  // namespace rclcpp
