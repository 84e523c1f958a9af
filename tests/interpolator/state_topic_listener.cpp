// Prints every change of "motor_state" and "system_state" as name=0/1, so a
// test in another process can watch the flags the execution loop publishes.
#include <cstdio>
#include <memory>

#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/bool.hpp"

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("state_topic_listener");
  int last[2] = {-1, -1};
  auto watch = [&last](int slot, const char* name) {
    return [&last, slot, name](const std_msgs::msg::Bool& msg) {
      if (last[slot] != static_cast<int>(msg.data)) {
        last[slot] = msg.data;
        printf("%s=%d\n", name, last[slot]);
      }
    };
  };
  auto a = node->create_subscription<std_msgs::msg::Bool>("motor_state", rclcpp::QoS(10),
                                                          watch(0, "motor_state"));
  auto b = node->create_subscription<std_msgs::msg::Bool>("system_state", rclcpp::QoS(10),
                                                          watch(1, "system_state"));
  puts("listening");
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}
