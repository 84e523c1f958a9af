// Forward and inverse kinematics of the A arm, roll-pitch-yaw conversions and
// joint limits.
#include <gtest/gtest.h>

#include <kdl/chain.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/frames.hpp>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "motion/kinematics/arm_kinematics.h"
#include "arm_model.h"
#include "stdout_capture.h"

namespace {

using arm_test::countOf;
using arm_test::makeArmKinematics;

TEST(ForwardPose, HomePoseAndBaseRotation) {
  ArmKinematics kin = makeArmKinematics();
  Pose6D home, turned;
  ASSERT_EQ(kin.forwardPose(JointVec6f(), home), 1);
  EXPECT_NEAR(home.x, -477.464, 1e-3);
  EXPECT_NEAR(home.y, -239.506, 1e-3);
  EXPECT_NEAR(home.z, 658.413, 1e-3);
  EXPECT_NEAR(home.roll, 0.0, 1e-4);
  EXPECT_NEAR(home.pitch, -1.4464, 1e-4);
  EXPECT_NEAR(home.yaw, -1.4464, 1e-4);

  // Joint 1 turns the whole arm a quarter turn about the base axis.
  kin.forwardPose(JointVec6f(1.5707964f, 0, 0, 0, 0, 0), turned);
  EXPECT_NEAR(turned.x, -home.y, 1e-3);
  EXPECT_NEAR(turned.y, home.x, 1e-3);
  EXPECT_NEAR(turned.z, home.z, 1e-3);
}

KDL::Chain kdlChainOf(const ArmKinematics& kin) {
  KDL::Chain chain;
  for (int i = 0; i < 6; ++i)
    chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                  KDL::Frame::DH(kin.a_[i], kin.alpha_[i], kin.d_[i], kin.theta_offset_[i])));
  return chain;
}

// KDL computes the same DH chain independently, in double precision.
TEST(ForwardPose, AgreesWithKdlOverRandomJoints) {
  ArmKinematics kin = makeArmKinematics();
  KDL::Chain chain = kdlChainOf(kin);
  KDL::ChainFkSolverPos_recursive solver(chain);
  std::mt19937 rng(42);
  std::uniform_real_distribution<float> angle(-3.1415927f, 3.1415927f);
  for (int n = 0; n < 2000; ++n) {
    JointVec6f q;
    KDL::JntArray jq(6);
    for (int i = 0; i < 6; ++i) jq(i) = q[i] = angle(rng);
    KDL::Frame f;
    ASSERT_GE(solver.JntToCart(jq, f), 0);
    Pose6D pose;
    kin.forwardPose(q, pose);
    EXPECT_NEAR(pose.x, f.p.x(), 2e-3);
    EXPECT_NEAR(pose.y, f.p.y(), 2e-3);
    EXPECT_NEAR(pose.z, f.p.z(), 2e-3);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) ASSERT_NEAR(pose.rotation[3 * r + c], f.M(r, c), 1e-5) << n;
    // Away from the singularity the angles must give back the same rotation.
    float R[9];
    rpyToRot(pose.roll, pose.pitch, pose.yaw, R);
    if (std::fabs(f.M(2, 0)) < 0.999) {
      for (int k = 0; k < 9; ++k) ASSERT_NEAR(R[k], pose.rotation[k], 1e-4) << n;
    }
  }
}

TEST(RollPitchYaw, SingularPitchPutsCombinedAngleIntoRoll) {
  float R[9], rpy[3];
  rpyToRot(0.3f, 1.5707964f, 0.1f, R);
  rotToRpy(R, rpy);
  EXPECT_EQ(rpy[1], 1.5707964f);
  EXPECT_EQ(rpy[2], 0.0f);
  EXPECT_NEAR(rpy[0], 0.2f, 1e-5);

  rpyToRot(0.3f, -1.5707964f, 0.1f, R);
  rotToRpy(R, rpy);
  EXPECT_EQ(rpy[1], -1.5707964f);
  EXPECT_NEAR(rpy[0], 0.4f, 1e-5);
}

TEST(JointLimits, ComparedInDoubleAgainstSinglePrecisionPi) {
  const ArmKinematics kin = makeArmKinematics();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int i = 0; i < 6; ++i) {
    for (double v : {3.141592653589793, -3.141592653589793, 0.0}) EXPECT_TRUE(kin.isJointInRange(i, v));
    for (double v : {3.1415928, -3.1415928, nan}) EXPECT_FALSE(kin.isJointInRange(i, v)) << v;
  }
  EXPECT_FALSE(kin.isJointInRange(6, 0.0));
}

// Columns of the wrong length leave no model to compute with.
TEST(ArmModel, ColumnsThatDoNotFitLeaveNoModel) {
  arm_test::StdoutCapture quiet;
  ArmKinematics five({0, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {1, 2, 3, 4, 5}, {1, 1, 1, 1, 1});
  ArmKinematics short_a({0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {1, 2}, {0, 0, 0, 0, 0, 0});
  const std::vector<float> seven(7, 0.0f);
  ArmKinematics too_many(seven, seven, seven, seven);
  for (ArmKinematics* kin : {&five, &short_a, &too_many}) {
    Pose6D pose(1, 2, 3, 4, 5, 6);
    EXPECT_EQ(kin->forwardPose(JointVec6f(), pose), 0);
    EXPECT_EQ(pose.x, 0.0f);
  }
}

TEST(InverseBranches, ArmWithoutSecondLinkHasNoElbowSolution) {
  const ArmKinematics kin = makeArmKinematics();
  IkSolutions sols;
  sols.num_sols = 5;
  arm_test::StdoutCapture capture;
  EXPECT_FALSE(kin.inverse(Pose6D(300, 100, 500, 0, 0, 0), sols));
  const std::string out = capture.text();
  EXPECT_EQ(sols.num_sols, 0);
  EXPECT_NE(out.find("num_sols: 0"), std::string::npos);
  EXPECT_EQ(countOf(out, "q3 is not a valid number") + countOf(out, "equation (2,2) error") * 2 +
                countOf(out, "equation (3,3) error") * 4,
            8)
      << "every one of the eight branches must be reported once";
  EXPECT_EQ(countOf(out, "equation (2,2) error"), 2) << "the roll branch that flips the tool";
}

}  // namespace
