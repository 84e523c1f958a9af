// A local program on the call and stream servers, checked at the servos and topics.
#include "controller_fixture.h"

namespace e2e {

class TcpDriver : public ControllerTest {};

TEST_F(TcpDriver, CallsMoveTheServosAndTheStreamAgreesWithTheTopics) {
  ASSERT_NO_FATAL_FAILURE(start());
  LoopbackClient call;
  ASSERT_TRUE(call.connectTo(kCallPort) && ask(call, robot_ping::PostEnablePower, true));
  EXPECT_TRUE(reply(call, Ms(15000)).success());

  // The server settles 10 s before it looks, then checks for up to 10 s.
  const std::vector<double> target = {-0.3, 0.25, 0.4, 0.5, -0.45, -0.2};
  ASSERT_TRUE(ask(call, robot_ping::PostJointAngle, false, target));
  EXPECT_TRUE(reply(call, Ms(25000)).success());
  ASSERT_TRUE(waitArrived(target));

  // At rest, a period later (the second frame), both sides show the very same figures.
  LoopbackClient stream;
  std::string frame;
  robot_ping::MainArmStates state;
  ASSERT_TRUE(stream.connectTo(kStreamPort) && stream.readFrame(&frame) && stream.readFrame(&frame) &&
              state.ParseFromString(frame));
  const TopicState seen = topics();
  EXPECT_EQ(std::vector<double>(state.angle().angle().begin(), state.angle().angle().end()), seen.joints);
  EXPECT_EQ(std::vector<double>(state.pose().begin(), state.pose().end()), seen.pose);
  EXPECT_TRUE(state.enablepower());

  // Power off is answered once every servo reads torque off: not while servo 4 is silent.
  servo_sim::ServoFaults silent;
  silent.silent = true;
  bus_->setFaults(4, silent);
  ASSERT_TRUE(ask(call, robot_ping::PostEnablePower, false));
  EXPECT_TRUE(call.silentFor(Ms(1000)));
  bus_->clearFaults(4);
  EXPECT_TRUE(reply(call, Ms(15000)).success());
  EXPECT_TRUE(waitTorque(false, Ms(0)));
}

}  // namespace e2e
