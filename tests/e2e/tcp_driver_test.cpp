// A local program driving the arm over the call server and watching the
// stream server, checked against the servos and the ROS 2 topics.
#include "cloud/robot_ping.pb.h"
#include "controller_fixture.h"

namespace e2e {
namespace {

using server_test::LoopbackClient;

class TcpDriver : public ControllerTest {
 protected:
  bool ask(robot_ping::MainArmClientRequestType type, bool power = false,
           const std::vector<double>& angles = {}) {
    robot_ping::MainArmRequestMsg req;
    req.set_requesttype(type);
    req.set_enablepower(power);
    for (double v : angles) req.mutable_angle()->add_angle(v);
    return call_.sendBytes(server_test::frameOf(req.SerializeAsString()));
  }
  robot_ping::MainArmRespMsg reply(robot_ping::MainArmClientRequestType type, Ms timeout) {
    std::string bytes;
    robot_ping::MainArmRespMsg resp;
    EXPECT_TRUE(call_.readFrame(&bytes, timeout)) << output();
    EXPECT_TRUE(resp.ParseFromString(bytes));
    EXPECT_EQ(resp.requesttype(), type);
    return resp;
  }
  robot_ping::MainArmRespMsg call(robot_ping::MainArmClientRequestType type, Ms timeout = Ms(5000),
                                  bool power = false, const std::vector<double>& angles = {}) {
    EXPECT_TRUE(ask(type, power, angles));
    return reply(type, timeout);
  }

  LoopbackClient call_;
};

// The newest state frame: everything queued up in the socket is skipped.
bool latestState(LoopbackClient& stream, robot_ping::MainArmStates* state) {
  std::string payload;
  do {
    if (!stream.readFrame(&payload, Ms(2000))) return false;
  } while (!stream.silentFor(Ms(0)));
  return state->ParseFromString(payload);
}

TEST_F(TcpDriver, CallsMoveTheServosAndTheStreamAgreesWithTheTopics) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(call_.connectTo(kCallPort));
  EXPECT_EQ(call(robot_ping::GetMainArmId).id(), kArmId);

  EXPECT_TRUE(call(robot_ping::PostEnablePower, Ms(15000), true).success()) << output();
  EXPECT_TRUE(waitTorque(true, Ms(2000)));
  EXPECT_TRUE(waitUntil([] { return topics().enabled; }, Ms(5000)));

  // The server settles 10 s before it looks, then checks for up to 10 s.
  const std::vector<double> target = {-0.3, 0.25, 0.4, 0.5, -0.45, -0.2};
  EXPECT_TRUE(call(robot_ping::PostJointAngle, Ms(25000), false, target).success()) << output();
  for (int i = 0; i < kAxes; ++i)
    EXPECT_EQ(bus_->servo(static_cast<uint8_t>(i + 1)).position, goalSteps(i, target[i]));
  ASSERT_TRUE(waitJointsSettled(target, Ms(2000)));

  // At rest, one period later both sides must show the very same figures.
  LoopbackClient stream;
  ASSERT_TRUE(stream.connectTo(kStreamPort));
  std::this_thread::sleep_for(Ms(100));
  const TopicState seen = topics();
  robot_ping::MainArmStates state;
  ASSERT_TRUE(latestState(stream, &state));
  ASSERT_EQ(state.angle().angle_size(), kAxes);
  ASSERT_EQ(seen.pose.size(), 6u);
  ASSERT_EQ(state.pose_size(), 6);
  for (int i = 0; i < kAxes; ++i) EXPECT_DOUBLE_EQ(state.angle().angle(i), seen.joints[i]) << i;
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(state.pose(i), seen.pose[i], 1e-9) << i;
  EXPECT_TRUE(state.enablepower());

  // Power off is answered only once every servo reads torque off, so not
  // while servo 4 cannot be read (it still obeys the bus).
  servo_sim::ServoFaults silent;
  silent.silent = true;
  bus_->setFaults(4, silent);
  ASSERT_TRUE(ask(robot_ping::PostEnablePower, false));
  EXPECT_TRUE(call_.silentFor(Ms(1000))) << output();
  bus_->clearFaults(4);
  EXPECT_TRUE(reply(robot_ping::PostEnablePower, Ms(15000)).success()) << output();
  EXPECT_TRUE(waitTorque(false, Ms(0)));
  EXPECT_TRUE(waitUntil([] { return !topics().enabled; }, Ms(5000)));
}

}  // namespace
}  // namespace e2e
