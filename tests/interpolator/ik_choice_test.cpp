#include <algorithm>
#include <cmath>
#include <random>

#include "interpolator_fixture.h"

namespace interp_test {
namespace {

float maxChange(const std::vector<double>& current, const JointVec5f& q) {
  float m = 0.0f;
  for (int j = 0; j < 5; ++j) m = std::max(m, std::fabs(static_cast<float>(current[j]) - q[j]));
  return m;
}

bool withinLimits(const JointVec5f& q) {
  for (int j = 0; j < 5; ++j)
    if (!(std::fabs(q[j]) <= 3.1415927f)) return false;
  return true;
}

// Over many reachable poses and start joints, the choice is always a solution
// within the limits with the smallest largest joint change, or the current
// joints when no solution is within the limits.
TEST_F(InterpolatorTest, ChosenSolutionIsWithinLimitsAndNearestOrTheCurrentJoints) {
  makeArm(6);
  ArmKinematics arm5({0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {20, 300, 250, 50, 0}, {100, 0, 0, 0, 30});
  ip_->kinematics_ = &arm5;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> joint(-3.0, 3.0);
  int first_invalid = 0;
  Capture quiet;
  for (double x : {-300.0, 250.0, 420.0})
    for (double z : {-80.0, 230.0})
      for (double pitch : {-1.2, 0.3, 1.4})
        for (double yaw : {-2.5, 0.0, 2.0})
          for (double roll : {0.4, 2.8})
            for (double far : {0.0, 1e4}) {
              IkSolutions sols;
              arm5.inverse(Pose6D(x, 60, z, roll, pitch, yaw), sols);
              std::vector<double> current;
              for (int j = 0; j < 5; ++j) current.push_back(far + joint(rng));
              const std::vector<double> chosen =
                  ip_->chooseIkSolution({x, 60.0, z, roll, pitch, yaw}, current);
              float best = INFINITY;
              for (int s = 0; s < sols.num_sols; ++s)
                if (withinLimits(sols.q_sols[s])) best = std::min(best, maxChange(current, sols.q_sols[s]));
              if (std::isinf(best)) {
                EXPECT_EQ(chosen, current);
                continue;
              }
              first_invalid += withinLimits(sols.q_sols[0]) ? 0 : 1;
              ASSERT_EQ(chosen.size(), 5u);
              JointVec5f q;
              for (int j = 0; j < 5; ++j) {
                EXPECT_LE(std::fabs(chosen[j]), 3.1415927f);
                q[j] = static_cast<float>(chosen[j]);
              }
              if (far == 0.0) {
                EXPECT_EQ(maxChange(current, q), best);
              }
            }
  EXPECT_GT(first_invalid, 0);  // poses whose first solution is out of range

  // Inputs too short to be a pose or a joint vector: the current joints.
  const std::vector<double> four = {0.1, 0.2, 0.3, 0.4};
  EXPECT_EQ(ip_->chooseIkSolution({400, 0, 100, 0, 0, 0}, four), four);
  EXPECT_EQ(ip_->chooseIkSolution({400, 0, 100}, {0, 0, 0, 0, 0}), (std::vector<double>{0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace interp_test
