// Forward kinematics against Orocos KDL's independent double-precision chain of the same DH columns.
#include <gtest/gtest.h>

#include <kdl/chain.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <random>

#include "arm_model.h"

TEST(ForwardPose, AgreesWithKdlOverRandomJoints) {
  ArmKinematics kin = arm_test::makeArmKinematics();
  KDL::Chain chain;
  for (int i = 0; i < 6; ++i)
    chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                  KDL::Frame::DH(kin.a_[i], kin.alpha_[i], kin.d_[i], kin.theta_offset_[i])));
  KDL::ChainFkSolverPos_recursive solver(chain);
  std::mt19937 rng(42);
  std::uniform_real_distribution<float> angle(-3.1415927f, 3.1415927f);
  for (int n = 0; n < 2000; ++n) {
    JointVec6f q;
    KDL::JntArray jq(6);
    for (int i = 0; i < 6; ++i) jq(i) = q[i] = angle(rng);
    KDL::Frame f;
    solver.JntToCart(jq, f);
    Pose6D pose;
    kin.forwardPose(q, pose);
    ASSERT_LT((f.p - KDL::Vector(pose.x, pose.y, pose.z)).Norm(), 2e-3) << n;
    for (int k = 0; k < 9; ++k) ASSERT_NEAR(pose.rotation[k], f.M(k / 3, k % 3), 1e-5) << n;
  }
}
