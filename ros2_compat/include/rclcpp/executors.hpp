#pragma once

#include <memory>

#include "rclcpp/node.hpp"

namespace rclcpp {

// Runs the node's subscription callbacks and timers, one at a time, on the
// calling thread until the context shuts down.
void spin(std::shared_ptr<Node> node);

}  // namespace rclcpp
