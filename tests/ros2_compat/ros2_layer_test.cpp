// The layer as a plain DDS program in another process sees it (both ways, byte for byte, in the
// ROS graph, on loopback only) and as the system uses it (spin, timers, shutdown, console lines).
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>

#include "child_process.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"

namespace {

using namespace std::chrono_literals;
using std_msgs::msg::Float64MultiArray;

std::string loopbackConfig(const std::string& extra = "") {
  return "<CycloneDDS><Domain id=\"any\"><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
         "</Interfaces><AllowMulticast>false</AllowMulticast></General><Discovery><ParticipantIndex>auto"
         "</ParticipantIndex><MaxAutoParticipantIndex>120</MaxAutoParticipantIndex><Peers><Peer address="
         "\"127.0.0.1\"/></Peers></Discovery>" + extra + "</Domain></CycloneDDS>";
}

std::shared_ptr<rclcpp::Node> initNode(const std::string& name) {
  arm_test::reserveRosDomainId();
  rclcpp::init(0, nullptr);
  return std::make_shared<rclcpp::Node>(name);
}

// First: a domain this process configured itself would outlive the test.
TEST(LoopbackOnly, CycloneConfigurationFromTheEnvironmentIsHonoured) {
  ASSERT_GE(arm_test::reserveRosDomainId(), 0);
  // An element Cyclone does not know: only a configuration taken from the environment fails.
  setenv("CYCLONEDDS_URI", loopbackConfig("<NoSuchElement/>").c_str(), 1);
  EXPECT_THROW(rclcpp::init(0, nullptr), rclcpp::exceptions::RCLError);
}

TEST(PeerExchange, MessagesCrossBothWaysByteExactOverLoopbackOnly) {
  ASSERT_GE(arm_test::reserveRosDomainId(), 0);
  unsetenv("CYCLONEDDS_URI");
  unsetenv("ROS_LOCALHOST_ONLY");
  arm_test::ChildProcess peer({arm_test::executableDir() + "/ros2_compat_dds_peer", "120"},
                              {{"CYCLONEDDS_URI", loopbackConfig()}});
  ASSERT_TRUE(peer.waitForOutput("peer ready", 60s)) << peer.output();
  auto node = initNode("exchange_node");
  auto array_pub = node->create_publisher<Float64MultiArray>("compat_to_peer", 10);
  auto joints_pub = node->create_publisher<sensor_msgs::msg::JointState>("compat_joint_state", 10);
  std::optional<sensor_msgs::msg::JointState> got;
  auto sub = node->create_subscription<sensor_msgs::msg::JointState>(
      "compat_from_peer", 10, [&got](const sensor_msgs::msg::JointState& msg) { got = msg; });
  const Float64MultiArray array{{{{"height", 2, 6}, {"width", 3, 3}}, 1}, {1.5, -2.0}};
  const sensor_msgs::msg::JointState joints{{{1, 2}, "  "}, {"joint1"}, {0.5, -1.0}, {}, {}};
  auto give_up = node->create_wall_timer(60s, [] { rclcpp::shutdown(); });
  // Volatile topics: keep offering until the peer has seen both and we have its sample.
  auto timer = node->create_wall_timer(50ms, [&] {
    const std::string out = peer.output();
    if (got && out.find("cdr rt/compat_to_peer") != out.npos && out.find("cdr rt/compat_joint") != out.npos)
      rclcpp::shutdown();
    array_pub->publish(array);
    joints_pub->publish(joints);
  });
  rclcpp::spin(node);

  ASSERT_TRUE(got.has_value()) << peer.output();
  EXPECT_EQ(std::tie(got->header.stamp.sec, got->header.stamp.nanosec, got->header.frame_id),
            std::make_tuple(42, 7u, std::string("peer_frame")));
  EXPECT_EQ(std::tie(got->name, got->position, got->velocity, got->effort),
            std::make_tuple(std::vector<std::string>{"rows", "cols"}, std::vector<double>{42.0, -0.25, 1e-9},
                            std::vector<double>{3.0}, std::vector<double>{}));
  // XCDR1 worked out by hand, in groups of four bytes: the encapsulation 00 01 00 00
  // (plain CDR, little endian), strings with their NUL and padded to 4, doubles on 8.
  auto printed = [&peer](const std::string& line) { return peer.waitForOutput(line + "\n", 30s); };
  EXPECT_TRUE(
      printed("cdr rt/compat_joint_state 00010000"
              " 01000000 02000000 03000000 20200000"                    // stamp 1 s 2 ns, frame_id "  "
              " 01000000 07000000 6a6f696e 74310000"                    // one name, "joint1"
              " 02000000 00000000 00000000 0000e03f 00000000 0000f0bf"  // pad, 0.5, -1.0
              " 00000000 00000000"));                                   // no velocity, no effort
  EXPECT_TRUE(
      printed("cdr rt/compat_to_peer 00010000 02000000"        // two dimensions
              " 07000000 68656967 68740000 02000000 06000000"  // "height", size 2, stride 6
              " 06000000 77696474 68000000 03000000 03000000"  // "width", size 3, stride 3
              " 01000000 02000000 00000000 00000000 0000f83f 00000000 000000c0"));  // 1.5, -2.0
  EXPECT_TRUE(printed("graph node / exchange_node readers=1 writers=2"));
  EXPECT_TRUE(printed("participant user_data=enclave=/;"));
  if (HasFailure()) ADD_FAILURE() << "peer output:\n" << peer.output();

  // Receiving sockets may bind to any address; the transmitting one is tied to 127.0.0.1. No IPv6.
  std::set<std::string> bound{"0.0.0.0"};
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (getsockname(std::stoi(fd.path().filename()), reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      bound.insert(addr.sin_family == AF_INET ? inet_ntoa(addr.sin_addr) : "not IPv4");
  }
  EXPECT_EQ(bound, (std::set<std::string>{"0.0.0.0", "127.0.0.1"}));
}

// Due times worked out, not measured: a call that ran late keeps the next one on the grid, and
// periods missed in a long call are skipped, not made up. The achieved rate is a bench figure.
TEST(WallTimer, KeepsItsRateAndSkipsMissedPeriods) {
  rclcpp::WallTimer<std::function<void()>> timer(10ms, [] {});
  const auto t0 = timer.next_call_time();
  EXPECT_EQ((timer.advance(t0 + 4ms), timer.next_call_time()), t0 + 10ms);
  EXPECT_EQ((timer.advance(t0 + 315ms), timer.next_call_time()), t0 + 320ms);  // 30 periods overrun
}

TEST(SpinDispatch, SharedPointerCallbackRunsOnTheSpinningThreadAndNothingRunsOrSpeaksAfterShutdown) {
  auto node = initNode("spin_dispatch");
  const Float64MultiArray sent{{}, {0.1, 0.2, 0.3}};
  std::pair<std::thread::id, std::vector<double>> got;  // the callback's thread and message
  auto sub =
      node->create_subscription<Float64MultiArray>("movj_s_topic", 10, [&](Float64MultiArray::SharedPtr msg) {
        got = {std::this_thread::get_id(), msg->data};
        rclcpp::shutdown();
      });
  auto stop = node->create_wall_timer(10s, [] { rclcpp::shutdown(); });
  // A node that is never spun publishes from a thread of its own.
  auto pub_node = std::make_shared<rclcpp::Node>("publisher_side");
  auto pub = pub_node->create_publisher<Float64MultiArray>("movj_s_topic", 10);
  std::thread publisher([&] {
    for (; rclcpp::ok(); std::this_thread::sleep_for(5ms)) pub->publish(sent);
  });
  rclcpp::spin(node);
  publisher.join();
  EXPECT_EQ(got, std::make_pair(std::this_thread::get_id(), sent.data));

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  rclcpp::spin(node);  // returns at once
  for (int i = 0; i < 100; ++i) pub->publish(sent);
  // Releasing endpoints and nodes after shutdown is silent too.
  pub.reset(), sub.reset(), pub_node.reset(), node.reset();
  EXPECT_EQ(testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout(), "");
}

TEST(ConsoleLog, InfoLineHasHumbleConsoleFormat) {
  const long long before = std::time(nullptr);  // the seconds after "[INFO] [" are no earlier
  testing::internal::CaptureStderr();
  RCLCPP_INFO(rclcpp::get_logger("robot_cmd_processor"), "Get robot joint num not equal %d!", 6);
  const std::string line = testing::internal::GetCapturedStderr();
  EXPECT_THAT(line, testing::MatchesRegex("\\[INFO\\] \\[[0-9]+\\.[0-9]{9}\\] \\[robot_cmd_processor\\]: "
                                          "Get robot joint num not equal 6!\n"));
  EXPECT_THAT(std::atoll(&line[8]), testing::AllOf(testing::Ge(before), testing::Le(std::time(nullptr))));
}

}  // namespace
