// Spins a node with a timer until a signal ends the spin, then shuts down
// and waits: a second signal must then end the process.
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "rclcpp/rclcpp.hpp"

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("spin_child");
  int ticks = 0;
  auto timer = node->create_wall_timer(std::chrono::milliseconds(10), [&ticks] {
    if (++ticks == 1) std::printf("spinning\n");
  });
  rclcpp::spin(node);
  std::printf("spin returned ok=%d\n", rclcpp::ok() ? 1 : 0);
  const bool first = rclcpp::shutdown();
  std::printf("shutdown returned %d\n", first ? 1 : 0);
  for (;;) pause();
}
