// A stock ROS 2 humble operator (on Fast DDS) finds the arm, reads it and moves it.
#include "controller_fixture.h"

namespace e2e {

class FastDdsPeer : public ControllerTest {};

TEST_F(FastDdsPeer, ReadsJointNamesSwitchesServosOnAndMovesTheArm) {
  ASSERT_NO_FATAL_FAILURE(start());
  arm_test::ChildProcess peer(
      {FASTDDS_OPERATOR_PATH, "60", "0.4", "-0.3", "0.5", "-0.6", "0.2", "0.7", "1.0"},
      {{"ROS_DOMAIN_ID", std::to_string(arm_test::reserveRosDomainId())}});
  // It ends well only once joint states named joint1..joint6 show the target.
  EXPECT_EQ(peer.wait(Ms(70000)), 0) << peer.output();
  EXPECT_TRUE(waitArrived({0.4, -0.3, 0.5, -0.6, 0.2, 0.7}));
}

}  // namespace e2e
