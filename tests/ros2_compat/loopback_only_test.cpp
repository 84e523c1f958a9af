// DDS traffic of the layer stays on this machine unless configured otherwise.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "loopback_config.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "std_msgs/msg/bool.hpp"

namespace {

// Local addresses (hex, as the kernel lists them) of this process's sockets in a /proc/net table.
std::vector<std::string> ownLocalAddresses(const std::string& table) {
  std::set<std::string> inodes;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* entry = dir ? readdir(dir) : nullptr) {
    char target[256];
    const ssize_t n =
        readlink((std::string("/proc/self/fd/") + entry->d_name).c_str(), target, sizeof target - 1);
    const std::string link(target, n > 0 ? static_cast<size_t>(n) : 0);
    if (link.rfind("socket:[", 0) == 0) inodes.insert(link.substr(8, link.size() - 9));
  }
  if (dir) closedir(dir);
  std::vector<std::string> addresses;
  std::ifstream in(table);
  std::string line, f[10];  // f[1]: local address, f[9]: inode
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream row(line);
    for (auto& field : f) row >> field;
    if (inodes.count(f[9]) != 0) addresses.push_back(f[1].substr(0, f[1].find(':')));
  }
  return addresses;
}

// First: a domain this process configured itself would outlive the test.
TEST(LoopbackOnly, CycloneConfigurationFromTheEnvironmentIsHonoured) {
  ASSERT_GE(arm_test::reserveRosDomainId(), 0);
  const std::string trace = "/tmp/ros2_compat_trace_" + std::to_string(getpid()) + ".log";
  unlink(trace.c_str());
  // Still loopback only; the trace file shows whose configuration was used.
  const std::string config = ros2_compat_test::loopbackCycloneConfig(
      "<Tracing><Verbosity>config</Verbosity><OutputFile>" + trace + "</OutputFile></Tracing>");
  setenv("CYCLONEDDS_URI", config.c_str(), 1);
  rclcpp::init(0, nullptr);
  EXPECT_TRUE(rclcpp::ok());
  rclcpp::shutdown();
  unsetenv("CYCLONEDDS_URI");
  EXPECT_EQ(unlink(trace.c_str()), 0) << "no trace at " << trace;
}

TEST(LoopbackOnly, DdsSocketsBindOnlyToLoopbackOrAnyForReceiving) {
  ASSERT_GE(arm_test::reserveRosDomainId(), 0);
  unsetenv("CYCLONEDDS_URI");
  unsetenv("ROS_LOCALHOST_ONLY");
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("loopback_node");
  auto pub = node->create_publisher<std_msgs::msg::Bool>("motor_state", 10);
  pub->publish(std_msgs::msg::Bool());

  const auto v4 = ownLocalAddresses("/proc/self/net/udp");
  ASSERT_FALSE(v4.empty());
  bool sends_from_loopback = false;
  for (const auto& addr : v4) {
    // 0100007F is 127.0.0.1; unbound receive sockets show 00000000.
    EXPECT_TRUE(addr == "0100007F" || addr == "00000000") << addr;
    sends_from_loopback = sends_from_loopback || addr == "0100007F";
  }
  // The transmit socket is tied to loopback, so nothing can leave the host.
  EXPECT_TRUE(sends_from_loopback);
  EXPECT_TRUE(ownLocalAddresses("/proc/self/net/udp6").empty());

  pub.reset();
  node.reset();
  rclcpp::shutdown();
}

}  // namespace
