#pragma once

#include "rclcpp/logger.hpp"

namespace rclcpp {
namespace detail {

enum class LogSeverity { Info, Warn, Error };

// One line "[LEVEL] [sec.nanosec] [name]: message" on standard error.
void log(LogSeverity severity, const Logger& logger, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace detail
}  // namespace rclcpp

#define RCLCPP_INFO(logger, ...) ::rclcpp::detail::log(::rclcpp::detail::LogSeverity::Info, (logger), __VA_ARGS__)
#define RCLCPP_WARN(logger, ...) ::rclcpp::detail::log(::rclcpp::detail::LogSeverity::Warn, (logger), __VA_ARGS__)
#define RCLCPP_ERROR(logger, ...) ::rclcpp::detail::log(::rclcpp::detail::LogSeverity::Error, (logger), __VA_ARGS__)
