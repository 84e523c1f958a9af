#include <cmath>
#include <random>

#include "interpolator_fixture.h"

namespace interp_test {
namespace {

// forwardSE3 of q puts the tool on the target (its rotation from roll, pitch, yaw).
bool reaches(ArmKinematics& kin, const JointVec5f& q, const Pose6D& target) {
  Pose6D at;
  kin.forwardSE3(q, at);
  float R[9];
  rpyToRot(target.roll, target.pitch, target.yaw, R);
  bool near = std::fabs(at.x - target.x) <= 0.01f && std::fabs(at.y - target.y) <= 0.01f &&
              std::fabs(at.z - target.z) <= 0.01f;
  for (int k = 0; k < 9; ++k) near = near && std::fabs(at.rotation[k] - R[k]) <= 1e-4f;
  return near;
}

// Poses of random joints of a five-joint arm the closed form fits: every
// solution reaches the pose within the limits, and from joints near the true
// ones the choice is a solution at least as near. What the closed form
// ignores (a5 moves the tool, a roll offset turns it) leaves it nothing that
// reaches.
TEST_F(InterpolatorTest, SolutionsAndTheChoiceReachThePose) {
  makeArm(6);
  const std::vector<float> twists = {1.5707964f, 0, 0, -1.5707964f, 0};
  ArmKinematics fits({0, 0, 0, 0, 0}, twists, {20, 300, 250, 50, 0}, {100, 0, 0, 0, 30});
  ArmKinematics moved({0, 0, 0, 0, 0}, twists, {20, 300, 250, 50, 10}, {100, 0, 0, 0, 30});
  ArmKinematics turned({0, 0, 0, 0, 0.5f}, twists, {20, 300, 250, 50, 0}, {100, 0, 0, 0, 30});
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> joint(-3.1f, 3.1f);
  std::uniform_real_distribution<double> nudge(-0.05, 0.05);
  for (ArmKinematics* kin : {&fits, &moved, &turned}) {
    ip_->kinematics_ = kin;
    int unanswered = 0;
    for (int n = 0; n < 1000; ++n) {
      JointVec5f truth;
      std::vector<double> current(5);
      for (int j = 0; j < 5; ++j) current[j] = (truth[j] = joint(rng)) + nudge(rng);
      Pose6D target;
      kin->forwardSE3(truth, target);
      IkSolutions sols;
      std::vector<double> chosen;
      {
        Capture quiet;
        kin->inverse(target, sols);
        chosen = ip_->chooseIkSolution({target.x, target.y, target.z, target.roll, target.pitch, target.yaw},
                                       current);
      }
      for (int s = 0; s < sols.num_sols; ++s) {
        ASSERT_TRUE(reaches(*kin, sols.q_sols[s], target)) << n;
        for (int j = 0; j < 5; ++j) ASSERT_LE(std::fabs(sols.q_sols[s][j]), 3.1415927f) << n;
      }
      if (chosen == current) {
        ++unanswered;
        continue;
      }
      JointVec5f q;
      for (int j = 0; j < 5; ++j) {
        q[j] = static_cast<float>(chosen[j]);
        EXPECT_NEAR(chosen[j], current[j], 0.051) << n;  // the true joints are that near
      }
      EXPECT_TRUE(reaches(*kin, q, target)) << n;
    }
    EXPECT_LE(unanswered, kin == &fits ? 5 : 1000);  // fits: poses at a singularity only
  }

  // Inputs too short to be a pose or a joint vector: the current joints.
  Capture quiet;
  const std::vector<double> four = {0.1, 0.2, 0.3, 0.4};
  EXPECT_EQ(ip_->chooseIkSolution({400, 0, 100, 0, 0, 0}, four), four);
  EXPECT_EQ(ip_->chooseIkSolution({400, 0, 100}, {0, 0, 0, 0, 0}), (std::vector<double>{0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace interp_test
