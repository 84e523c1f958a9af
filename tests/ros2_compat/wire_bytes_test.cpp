// What our publishers put on the wire, byte for byte, against XCDR1 worked
// out by hand (a Cyclone peer would also decode XCDR2; ROS 2 humble would not).
// A plain DDS reader with its own type definitions (the ROS 2 type names)
// receives the samples, so the topic and type names must match too.
#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "peer_types.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "sensor_msgs/msg/joint_state.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(WireBytes, JointStateAlignsDoublesToEightBytes) {
  const int domain = arm_test::reserveRosDomainId();
  ASSERT_GE(domain, 0);
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("wire_bytes");
  auto pub = node->create_publisher<sensor_msgs::msg::JointState>("A_arm_joint_pos_topic", 10);
  // Joins the domain the layer configured (loopback only).
  const dds_entity_t participant = dds_create_participant(static_cast<dds_domainid_t>(domain), nullptr, nullptr);
  ASSERT_GT(participant, 0);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
  const dds_entity_t reader = dds_create_reader(
      participant,
      dds_create_topic(participant, &sensor_msgs_msg_dds__JointState__desc, "rt/A_arm_joint_pos_topic", qos, nullptr),
      qos, nullptr);
  dds_delete_qos(qos);

  sensor_msgs::msg::JointState msg;
  msg.header.stamp.sec = 1;
  msg.header.stamp.nanosec = 2;
  msg.header.frame_id = "  ";
  msg.name = {"joint1"};
  msg.position = {0.5, -1.0};
  // Publish until the plain reader has a sample; keep it serialized, header included.
  Bytes wire;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (wire.empty() && std::chrono::steady_clock::now() < deadline) {
    pub->publish(msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ddsi_serdata* sd = nullptr;
    dds_sample_info_t info;
    if (dds_takecdr(reader, &sd, 1, &info, DDS_ANY_STATE) == 1) {
      wire.resize(ddsi_serdata_size(sd));
      ddsi_serdata_to_ser(sd, 0, wire.size(), wire.data());
      ddsi_serdata_unref(sd);
    }
  }
  dds_delete(participant);
  pub.reset();
  node.reset();
  rclcpp::shutdown();

  const Bytes expected = {
      0x00, 0x01, 0x00, 0x00,                          // CDR little endian, no options
      0x01, 0x00, 0x00, 0x00,                          // stamp.sec
      0x02, 0x00, 0x00, 0x00,                          // stamp.nanosec
      0x03, 0x00, 0x00, 0x00, 0x20, 0x20, 0x00, 0x00,  // frame_id "  " with NUL, 1 pad
      0x01, 0x00, 0x00, 0x00,                          // one name
      0x07, 0x00, 0x00, 0x00, 'j', 'o', 'i', 'n', 't', '1', 0x00, 0x00,  // "joint1" with NUL, 1 pad
      0x02, 0x00, 0x00, 0x00,                          // two positions
      0x00, 0x00, 0x00, 0x00,                          // pad: doubles sit on 8 in XCDR1
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xe0, 0x3f,  // 0.5
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xf0, 0xbf,  // -1.0
      0x00, 0x00, 0x00, 0x00,                          // no velocity
      0x00, 0x00, 0x00, 0x00,                          // no effort
  };
  EXPECT_EQ(wire, expected);
}

}  // namespace
