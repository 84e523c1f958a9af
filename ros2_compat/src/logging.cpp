#include "rclcpp/logging.hpp"

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace rclcpp {
namespace detail {

void log(LogSeverity severity, const Logger& logger, const char* format, ...) {
  const char* level = severity == LogSeverity::Info ? "INFO" : severity == LogSeverity::Warn ? "WARN" : "ERROR";
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);

  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int len = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string message(len > 0 ? static_cast<size_t>(len) : 0, '\0');
  if (len > 0) std::vsnprintf(&message[0], message.size() + 1, format, args);
  va_end(args);

  char prefix[128];
  std::snprintf(prefix, sizeof prefix, "[%s] [%lld.%09ld] [", level, static_cast<long long>(ts.tv_sec),
                static_cast<long>(ts.tv_nsec));
  // One write per line keeps lines from different threads apart.
  const std::string line = prefix + std::string(logger.get_name()) + "]: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace detail
}  // namespace rclcpp
