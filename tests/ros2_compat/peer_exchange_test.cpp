// A node of ours and a plain DDS program in another process (no code of the
// layer, its own IDL with ROS 2's names) exchange messages both ways, and the
// program sees our node in the ROS graph and our participant's enclave.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "child_process.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"

namespace {

using namespace std::chrono_literals;

TEST(PeerExchange, MessagesCrossBothWaysWithAPlainDdsProgram) {
  ASSERT_GE(arm_test::reserveRosDomainId(), 0);
  arm_test::ChildProcess peer({arm_test::executableDir() + "/ros2_compat_dds_peer", "30"});
  ASSERT_TRUE(peer.waitForOutput("peer ready", 10s)) << peer.output();

  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("exchange_node");
  auto pub = node->create_publisher<std_msgs::msg::Float64MultiArray>("compat_to_peer", 10);
  std::optional<sensor_msgs::msg::JointState> reply;
  auto sub = node->create_subscription<sensor_msgs::msg::JointState>(
      "compat_from_peer", 10, [&reply](const sensor_msgs::msg::JointState& msg) {
        reply = msg;
        rclcpp::shutdown();
      });

  std_msgs::msg::Float64MultiArray request;
  request.layout.dim.resize(2);
  request.layout.dim[0].label = "rows";
  request.layout.dim[1].label = "cols";
  request.layout.data_offset = 3;
  request.data = {42.0, -0.25, 1e-9};
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  // Volatile topics: keep offering until discovery has matched the peer.
  auto timer = node->create_wall_timer(50ms, [&] {
    if (std::chrono::steady_clock::now() > deadline) rclcpp::shutdown();
    pub->publish(request);
  });
  rclcpp::spin(node);

  ASSERT_TRUE(reply.has_value()) << peer.output();
  EXPECT_EQ(reply->header.stamp.sec, 42);
  EXPECT_EQ(reply->header.stamp.nanosec, 7u);
  EXPECT_EQ(reply->header.frame_id, "peer_frame");
  EXPECT_EQ(reply->name, (std::vector<std::string>{"rows", "cols"}));
  EXPECT_EQ(reply->position, request.data);
  EXPECT_EQ(reply->velocity, std::vector<double>{3.0});
  EXPECT_TRUE(reply->effort.empty());

  EXPECT_TRUE(peer.waitForOutput("peer got array of 3", 5s)) << peer.output();
  EXPECT_TRUE(peer.waitForOutput("graph node / exchange_node readers=1 writers=1", 5s)) << peer.output();
  EXPECT_TRUE(peer.waitForOutput("participant user_data=enclave=/;", 5s)) << peer.output();
}

}  // namespace
