// What each call-server request does to the arm and what its client is told.
#include <gtest/gtest.h>

#include <limits>

#include "arm_fixture.h"
#include "cloud/robot_ping.pb.h"
#include "loopback_client.h"

namespace {

using server_test::hex;
using server_test::LoopbackClient;
using server_test::Ms;

std::string moveRequest(const std::vector<double>& angles) {
  robot_ping::MainArmRequestMsg msg;
  msg.set_requesttype(robot_ping::PostJointAngle);
  for (double a : angles) msg.mutable_angle()->add_angle(a);
  return server_test::frameOf(msg.SerializeAsString());
}

const std::string kPowerOn("\x00\x00\x00\x04\x08\x03\x10\x01", 8);
const std::string kPowerBare("\x00\x00\x00\x02\x08\x03", 6);  // no body: off
const std::string kPowerDone = "00 00 00 04 08 03 18 01";

class CallRequests : public server_test::CallServerFixture {};

TEST_F(CallRequests, RefusedMovesAnswerFalseAndQueueNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::vector<double>> refused = {
      {0.1, 0.2, 0.3, 0.4, 0.5},            {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7},
      {0.1, 0.2, 3.2, 0.4, 0.5, 0.6},       {0.1, 0.2, 0.3, -3.2, 0.5, 0.6},
      {0.1, nan, 0.3, 0.4, 0.5, 0.6},
  };
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  for (const auto& target : refused) {
    ASSERT_TRUE(client.sendBytes(moveRequest(target)));
    EXPECT_EQ(hex(client.readBytes(8)), "00 00 00 04 08 02 18 00");
  }
  ip_->setAbnormalFlag(true);
  ASSERT_TRUE(client.sendBytes(moveRequest({0.1, 0.2, 0.3, 0.4, 0.5, 0.6})));
  EXPECT_EQ(hex(client.readBytes(8)), "00 00 00 04 08 02 18 00");
  EXPECT_EQ(queued(), 0u);
}

TEST_F(CallRequests, PowerFollowsTheRequestEvenWhileAbnormal) {
  ip_->setAbnormalFlag(true);
  startLoop();
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  ASSERT_TRUE(client.sendBytes(kPowerOn));
  EXPECT_EQ(hex(client.readBytes(8)), kPowerDone);
  for (auto& m : motors_) EXPECT_TRUE(m->enabled());
  ASSERT_TRUE(client.sendBytes(kPowerBare));
  EXPECT_EQ(hex(client.readBytes(8)), kPowerDone);
  for (auto& m : motors_) EXPECT_FALSE(m->enabled());
}

TEST_F(CallRequests, MoveIsConfirmedOnceTheArmHasArrived) {
  for (auto& m : motors_) m->setEnabled(true);
  startLoop();
  const std::vector<double> target = {0.2, 0.1, 0.35, 0.3, 0.6, 0.5};
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  ASSERT_TRUE(client.sendBytes(moveRequest(target)));
  EXPECT_EQ(hex(client.readBytes(8, Ms(25000))), "00 00 00 04 08 02 18 01");
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(motors_[i]->position(), target[i], 0.008) << i;
}

TEST_F(CallRequests, ClientGoneBeforeItsReplyLeavesTheServerServing) {
  for (auto& m : motors_) m->setIgnoreEnable(true);  // the power request times out
  startLoop();
  {
    LoopbackClient client;
    ASSERT_TRUE(client.connectTo(port_));
    ASSERT_TRUE(client.sendBytes(kPowerOn));
    std::this_thread::sleep_for(Ms(200));
  }
  LoopbackClient next;
  ASSERT_TRUE(next.connectTo(port_));
  ASSERT_TRUE(next.sendBytes(std::string("\x00\x00\x00\x02\x08\x01", 6)));
  EXPECT_EQ(next.readBytes(44, Ms(20000)).size(), 44u);
}

}  // namespace
