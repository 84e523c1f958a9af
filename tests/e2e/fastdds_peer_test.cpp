// What a stock ROS 2 humble operator (on Fast DDS) sees and does: it finds
// the controller, reads its joint states and drives the arm on the bus.
#include "controller_fixture.h"
#include "ros_domain.h"

namespace e2e {
namespace {

class FastDdsPeer : public ControllerTest {};

TEST_F(FastDdsPeer, ReadsJointNamesSwitchesServosOnAndMovesTheArm) {
  ASSERT_NO_FATAL_FAILURE(start());
  arm_test::ChildProcess peer(
      {FASTDDS_OPERATOR_PATH, "60", "0.4", "-0.3", "0.5", "-0.6", "0.2", "0.7", "1.0"},
      {{"ROS_DOMAIN_ID", std::to_string(arm_test::reserveRosDomainId())}});
  EXPECT_TRUE(peer.waitForOutput("names joint1 joint2 joint3 joint4 joint5 joint6\n", Ms(30000)))
      << peer.output();
  EXPECT_TRUE(waitTorque(true, Ms(30000))) << peer.output();
  // It ends well only once its joint states show the target.
  EXPECT_EQ(peer.wait(Ms(70000)), 0) << peer.output();
  EXPECT_TRUE(waitArrived({0.4, -0.3, 0.5, -0.6, 0.2, 0.7}));
}

}  // namespace
}  // namespace e2e
