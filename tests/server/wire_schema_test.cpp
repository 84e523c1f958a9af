// Golden bytes of the frames a client built from the schema alone relies on.
#include <gtest/gtest.h>

#include <cstring>

#include <google/protobuf/descriptor.h>

#include "cloud/robot_ping.pb.h"
#include "loopback_client.h"
#include "utils/service_version.pb.h"
#include "wire_frame.h"

namespace {

using server_test::hex;

std::string leDouble(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof(bits));
  std::string out;
  for (int i = 0; i < 8; ++i) out += static_cast<char>(bits >> (8 * i));
  return out;
}

std::string frame(const google::protobuf::MessageLite& msg) {
  std::string out;
  EXPECT_TRUE(wire_frame::buildFrame(msg, &out));
  return out;
}

TEST(WireBytes, ReplyFrames) {
  robot_ping::MainArmRespMsg reply;
  reply.set_requesttype(robot_ping::GetMainArmId);
  reply.set_id("7c3e9b12-4a6f-4d0e-9b85-e21f6c4a8d07");
  EXPECT_EQ(hex(frame(reply)), hex(std::string("\x00\x00\x00\x28\x08\x01\x12\x24", 8) +
                                   "7c3e9b12-4a6f-4d0e-9b85-e21f6c4a8d07"));
  reply.set_requesttype(robot_ping::PostJointAngle);
  reply.set_success(false);  // the oneof member is sent even when false
  EXPECT_EQ(hex(frame(reply)), "00 00 00 04 08 02 18 00");
}

TEST(WireBytes, FullStateFrameIs117Bytes) {
  const int64_t ts = 1765000000123;  // December 2025 in ms: a 6-byte varint
  robot_ping::MainArmStates state;
  std::string angles;
  std::string pose;
  for (int i = 0; i < 6; ++i) {
    state.mutable_angle()->add_angle(0.1 * (i + 1));
    state.add_pose(100.0 * (i + 1));
    angles += leDouble(0.1 * (i + 1));
    pose += leDouble(100.0 * (i + 1));
  }
  state.set_timestamp(ts);
  state.set_gripsignal(true);
  state.set_enablepower(true);
  std::string ts_varint;
  for (uint64_t v = ts; v; v >>= 7) ts_varint += static_cast<char>((v & 0x7f) | (v >= 0x80 ? 0x80 : 0));
  const std::string expected = std::string("\x00\x00\x00\x71\x0a\x32\x0a\x30", 8) + angles +
                               "\x12\x30" + pose + "\x18" + ts_varint + "\x20\x01\x28\x01";
  ASSERT_EQ(expected.size(), 117u);
  EXPECT_EQ(hex(frame(state)), hex(expected));
}

TEST(WireBytes, ServiceCarriesItsVersionOption) {
  const auto* service =
      robot_ping::JointAngle::descriptor()->file()->FindServiceByName("RobotPingService");
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->options().GetExtension(utils::service_version), "20240129212000");
  EXPECT_EQ(service->FindMethodByName("GetVersion")->output_type()->full_name(),
            "utils.ServiceVersion");
}

}  // namespace
