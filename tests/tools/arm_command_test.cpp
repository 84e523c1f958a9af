// The operator's command tool: its help, what it says about a command line it cannot run, and what
// a ros command publishes and says to a controller's node seen or not.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/string.hpp"

namespace {

using namespace std::chrono_literals;

// The tool's exit status and the stream that redirect keeps (the other goes to /dev/null).
std::pair<int, std::string> armCommand(const std::string& args, const char* redirect) {
  FILE* pipe = popen((std::string(ARM_COMMAND_PATH) + " " + args + redirect).c_str(), "r");
  std::string text;
  char buf[4096];
  for (size_t n; pipe != nullptr && (n = fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

std::string line(const std::string& text, int n) {
  std::istringstream in(text);
  std::string l;
  while (n-- >= 0 && std::getline(in, l)) {}
  return l;
}

TEST(ArmCommand, HelpGoesToStandardOutputAndAUsageErrorSaysFirstWhatWasWrong) {
  for (const char* help : {"--help", "ros movj -h"}) {
    const auto [status, out] = armCommand(help, " 2>/dev/null");
    EXPECT_EQ(status, 0) << help;
    EXPECT_EQ(line(out, 0), "usage: arm_command tcp on|off | tcp move J1..J6 | tcp state") << help;
    EXPECT_NE(out.find("angles, in rad"), std::string::npos);
    EXPECT_NE(out.find("scale, in (0, 1]"), std::string::npos);
  }
  const std::pair<const char*, const char*> errors[] = {
      {"", "missing the side: tcp or ros"},
      {"udp on", "unknown side 'udp': expected tcp or ros"},
      {"ros", "missing the command after ros: on, off, movj, stop or state"},
      {"tcp movj 1 2 3 4 5 6 0.5", "unknown command 'movj' after tcp: expected on, off, move or state"},
      {"ros stop now", "ros stop takes no values, got 1"},
      {"tcp move 0.3 0.2", "tcp move takes 6 joint values (rad), got 2 values"},
      {"tcp move 1 2 3 4 5 6 7", "tcp move takes 6 joint values (rad), got 7 values"},
      {"ros movj 0.3 0.2 0.1 0 0 0", "ros movj takes 6 joint values (rad) and a velocity scale, got 6 values"},
      {"tcp move 0 0 a 0 0 0", "tcp move: joint 3 'a' is not a number"},
      {"ros movj 0 0 0 0 0 0 1x", "ros movj: the velocity scale '1x' is not a number"}};
  for (const auto& [args, problem] : errors) {
    const auto [status, err] = armCommand(args, " 2>&1 >/dev/null");
    EXPECT_EQ(status, 2) << args;
    EXPECT_EQ(line(err, 0), std::string("arm_command: ") + problem);
    EXPECT_EQ(line(err, 1).rfind("usage: arm_command tcp", 0), 0u) << args;
  }
}

// A stand-in controller publishes its state every 10 ms: a movj it would refuse is published once, with a
// word that no reply comes. Once it falls silent, a stop is not published and both causes are named.
TEST(ArmCommand, RosCommandIsPublishedOnlyToASeenControllerAndSaysNoReplyComes) {
  const int domain = arm_test::reserveRosDomainId();  // exported, so the tool joins it
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("controller_stand_in");
  std::mutex mutex;
  bool alive = true;
  std::vector<std::vector<double>> moves;
  int stops = 0;
  auto joints =
      node->create_publisher<sensor_msgs::msg::JointState>("A_arm_joint_pos_topic", rclcpp::QoS(10));
  auto enabled = node->create_publisher<std_msgs::msg::Bool>("A_arm_motor_enable_topic", rclcpp::QoS(10));
  auto timer = node->create_wall_timer(10ms, [&] {
    std::lock_guard<std::mutex> l(mutex);  // no sample once alive is cleared
    sensor_msgs::msg::JointState j;
    j.position.assign(6, 0.0);
    if (alive) joints->publish(j), enabled->publish(std_msgs::msg::Bool());
  });
  auto movj = node->create_subscription<std_msgs::msg::Float64MultiArray>(
      "movj_topic", rclcpp::QoS(10), [&](const std_msgs::msg::Float64MultiArray& m) {
        std::lock_guard<std::mutex> l(mutex);
        moves.push_back(m.data);
      });
  auto count_stop = [&](const std_msgs::msg::String&) {
    std::lock_guard<std::mutex> l(mutex);
    ++stops;
  };
  auto stop = node->create_subscription<std_msgs::msg::String>("stop_topic", rclcpp::QoS(10), count_stop);
  std::thread spinner([node] { rclcpp::spin(node); });

  const auto [moved, out] = armCommand("ros movj 9 9 9 9 9 9 0.5", " 2>/dev/null");
  EXPECT_EQ(moved, 0);
  EXPECT_NE(out.find("published on movj_topic; a topic carries no reply"), std::string::npos) << out;
  EXPECT_NE(out.find("its state topics (arm_command ros state)"), std::string::npos) << out;
  for (int i = 0; i < 1000 && (std::lock_guard<std::mutex>(mutex), moves.empty()); ++i)
    std::this_thread::sleep_for(10ms);
  {
    std::lock_guard<std::mutex> l(mutex);
    EXPECT_EQ(moves, (std::vector<std::vector<double>>{{9, 9, 9, 9, 9, 9, 0.5}}));
    alive = false;  // as if its spin had ended: the node stays, silent
  }
  const auto [stopped, err] = armCommand("ros stop", " 2>&1 >/dev/null");
  EXPECT_EQ(stopped, 1);
  EXPECT_NE(err.find("nothing published: no controller in ROS domain " + std::to_string(domain) +
                     ", or its ROS 2 spin has ended"),
            std::string::npos)
      << err;
  rclcpp::shutdown();
  spinner.join();
  EXPECT_EQ(stops, 0);
}

}  // namespace
