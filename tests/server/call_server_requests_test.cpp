// What each call-server request does to the arm and what its client is told.
#include <limits>

#include "arm_fixture.h"
#include "cloud/robot_ping.pb.h"

namespace server_test {
namespace {

std::string moveRequest(const std::vector<double>& angles) {
  robot_ping::MainArmRequestMsg msg;
  msg.set_requesttype(robot_ping::PostJointAngle);
  for (double a : angles) msg.mutable_angle()->add_angle(a);
  return frameOf(msg.SerializeAsString());
}

const std::string kPowerOn("\x00\x00\x00\x04\x08\x03\x10\x01", 8);
const std::string kMoveRefused = "00 00 00 04 08 02 18 00";

class CallRequests : public CallServerFixture {};

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
    EXPECT_EQ(hex(client.readBytes(8)), kMoveRefused);
  }
  ip()->setAbnormalFlag(true);
  ASSERT_TRUE(client.sendBytes(moveRequest({0.1, 0.2, 0.3, 0.4, 0.5, 0.6})));
  EXPECT_EQ(hex(client.readBytes(8)), kMoveRefused);
  std::lock_guard<std::mutex> lock(ip()->queue_mutex_);
  EXPECT_TRUE(ip()->cmd_queue_.empty());
}

TEST_F(CallRequests, ClientGoneBeforeItsReplyLeavesTheServerServing) {
  for (auto& m : motors()) m->setIgnoreEnable(true);  // the power request times out
  startLoop();
  {
    LoopbackClient client;
    ASSERT_TRUE(client.connectTo(port_));
    ASSERT_TRUE(client.sendBytes(kPowerOn));
    std::this_thread::sleep_for(Ms(200));
  }
  LoopbackClient next;
  ASSERT_TRUE(next.connectTo(port_));
  EXPECT_TRUE(servesArmId(next, Ms(20000)));
}

}  // namespace
}  // namespace server_test
