// The A arm's kinematics without an oracle: home pose, limits, bad models, inverse branches, singular RPY.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "arm_model.h"
#include "stdout_capture.h"

namespace {

TEST(ArmModel, HomePoseJointLimitsColumnsThatDoNotFitAndInverseBranches) {
  ArmKinematics kin = arm_test::makeArmKinematics();
  Pose6D home;
  ASSERT_EQ(kin.forwardPose(JointVec6f(), home), 1);
  const float got[] = {home.x, home.y, home.z, home.roll, home.pitch, home.yaw};
  const float want[] = {-477.464f, -239.506f, 658.413f, 0.0f, -1.4464f, -1.4464f};
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(got[k], want[k], k < 3 ? 1e-3 : 1e-4) << k;
  for (int i = 0; i < 7; ++i) {  // compared in double against the float pi; NaN never in range
    for (double v : {3.141592653589793, -3.141592653589793}) EXPECT_EQ(kin.isJointInRange(i, v), i < 6);
    for (double v : {3.1415928, -3.1415928, std::nan("")}) EXPECT_FALSE(kin.isJointInRange(i, v)) << v;
  }
  arm_test::StdoutCapture capture;
  const std::vector<float> two(2, 1.0f), five(5, 1.0f), six(6, 1.0f), seven(7, 1.0f);
  for (ArmKinematics bad : {ArmKinematics(five, five, five, five), ArmKinematics(six, six, two, six),
                            ArmKinematics(seven, seven, seven, seven)}) {
    Pose6D pose(1, 2, 3, 4, 5, 6);
    EXPECT_TRUE(bad.forwardPose(JointVec6f(), pose) == 0 && pose.x == 0.0f);
  }
  // With a2 = 0 no elbow angle exists; before that only the roll branch that flips the tool fails.
  IkSolutions sols;
  sols.num_sols = 5;
  EXPECT_FALSE(kin.inverse(Pose6D(300, 100, 500, 0, 0, 0), sols));
  const std::string out = capture.text();
  EXPECT_EQ(sols.num_sols, 0);
  EXPECT_EQ(arm_test::countOf(out, "num_sols: 0\n"), 1);
  EXPECT_EQ(arm_test::countOf(out, "q3 is not a valid number"), 4);
  EXPECT_EQ(arm_test::countOf(out, "equation (2,2) error"), 2);
}

TEST(RollPitchYaw, SingularPitchPutsCombinedAngleIntoRoll) {
  for (float sign : {1.0f, -1.0f}) {
    float R[9], rpy[3];
    rpyToRot(0.3f, sign * 1.5707964f, 0.1f, R);
    rotToRpy(R, rpy);
    EXPECT_TRUE(rpy[1] == sign * 1.5707964f && rpy[2] == 0.0f) << sign;
    EXPECT_NEAR(rpy[0], 0.3f - sign * 0.1f, 1e-5) << sign;
  }
}

}  // namespace
