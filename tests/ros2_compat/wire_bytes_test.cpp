// What our publishers put on the wire, byte for byte, against XCDR1 worked
// out by hand. A plain DDS reader with its own type definitions (the ROS 2
// type names) receives the samples, so the topic and type names must match too.
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
#include "std_msgs/msg/float64_multi_array.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

class WireBytes : public ::testing::Test {
 protected:
  void SetUp() override {
    const int domain = arm_test::reserveRosDomainId();
    ASSERT_GE(domain, 0);
    rclcpp::init(0, nullptr);
    ASSERT_TRUE(rclcpp::ok());
    node_ = std::make_shared<rclcpp::Node>("wire_bytes");
    // Joins the domain the layer configured (loopback only).
    participant_ = dds_create_participant(static_cast<dds_domainid_t>(domain), nullptr, nullptr);
    ASSERT_GT(participant_, 0);
  }

  void TearDown() override {
    dds_delete(participant_);
    node_.reset();
    rclcpp::shutdown();
  }

  // Publishes msg until the plain reader on "rt/<topic>" gets it; returns the
  // serialized sample including its encapsulation header.
  template <typename MessageT>
  Bytes wireBytes(const std::string& topic, const dds_topic_descriptor_t* desc, const MessageT& msg) {
    auto pub = node_->create_publisher<MessageT>(topic, 10);
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
    const dds_entity_t t = dds_create_topic(participant_, desc, ("rt/" + topic).c_str(), qos, nullptr);
    const dds_entity_t reader = dds_create_reader(participant_, t, qos, nullptr);
    dds_delete_qos(qos);
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (out.empty() && std::chrono::steady_clock::now() < deadline) {
      pub->publish(msg);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ddsi_serdata* sd = nullptr;
      dds_sample_info_t info;
      if (dds_takecdr(reader, &sd, 1, &info, DDS_ANY_STATE) == 1) {
        out.resize(ddsi_serdata_size(sd));
        ddsi_serdata_to_ser(sd, 0, out.size(), out.data());
        ddsi_serdata_unref(sd);
      }
    }
    dds_delete(reader);
    dds_delete(t);
    return out;
  }

  std::shared_ptr<rclcpp::Node> node_;
  dds_entity_t participant_ = 0;
};

TEST_F(WireBytes, JointStateAlignsDoublesToEightBytes) {
  sensor_msgs::msg::JointState msg;
  msg.header.stamp.sec = 1;
  msg.header.stamp.nanosec = 2;
  msg.header.frame_id = "  ";
  msg.name = {"joint1"};
  msg.position = {0.5, -1.0};

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
  EXPECT_EQ(wireBytes("A_arm_joint_pos_topic", &sensor_msgs_msg_dds__JointState__desc, msg), expected);
}

TEST_F(WireBytes, Float64MultiArrayCarriesTwoDimensionLayout) {
  std_msgs::msg::Float64MultiArray msg;
  msg.layout.dim.resize(2);
  msg.layout.dim[0].label = "height";
  msg.layout.dim[0].size = 2;
  msg.layout.dim[0].stride = 6;
  msg.layout.dim[1].label = "width";
  msg.layout.dim[1].size = 3;
  msg.layout.dim[1].stride = 3;
  msg.layout.data_offset = 1;
  msg.data = {1.5, -2.0};

  const Bytes expected = {
      0x00, 0x01, 0x00, 0x00,                                      // CDR little endian
      0x02, 0x00, 0x00, 0x00,                                      // two dimensions
      0x07, 0x00, 0x00, 0x00, 'h', 'e', 'i', 'g', 'h', 't', 0x00, 0x00,  // "height", 1 pad
      0x02, 0x00, 0x00, 0x00,                                      // size
      0x06, 0x00, 0x00, 0x00,                                      // stride
      0x06, 0x00, 0x00, 0x00, 'w', 'i', 'd', 't', 'h', 0x00, 0x00, 0x00,  // "width", 2 pad
      0x03, 0x00, 0x00, 0x00,                                      // size
      0x03, 0x00, 0x00, 0x00,                                      // stride
      0x01, 0x00, 0x00, 0x00,                                      // data_offset
      0x02, 0x00, 0x00, 0x00,                                      // two values
      0x00, 0x00, 0x00, 0x00,                                      // pad to 8
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xf8, 0x3f,              // 1.5
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc0,              // -2.0
  };
  EXPECT_EQ(wireBytes("movj_topic", &std_msgs_msg_dds__Float64MultiArray__desc, msg), expected);
}

}  // namespace
