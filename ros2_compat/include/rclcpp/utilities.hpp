#pragma once

#include <string>

#include "rclcpp/context.hpp"

namespace rclcpp {

// Starts the default context and installs SIGINT/SIGTERM handlers that shut it down.
// Throws rclcpp::exceptions::RCLError, with DDS's reason, when no participant
// can be created; nothing is left running then.
void init(int argc, char const* const argv[]);
// Shuts the context down and uninstalls the signal handlers, so a second
// signal ends the process. False when the context was not running.
bool shutdown(Context::SharedPtr context = nullptr,
              const std::string& reason = "user called rclcpp::shutdown()");
bool ok(Context::SharedPtr context = nullptr);

}  // namespace rclcpp
