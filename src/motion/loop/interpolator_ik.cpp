#include <cstdio>

#include "motion/kinematics/arm_kinematics.h"
#include "motion/loop/interpolator.h"

namespace {
constexpr int kIkJoints = 5;
constexpr size_t kPoseValues = 6;
// Larger than any joint change the solver can give within the limits.
constexpr float kNoChangeYet = 1000.0f;
}  // namespace

std::vector<double> Interpolator::chooseIkSolution(const std::vector<double>& target,
                                                   const std::vector<double>& current) {
  if (target.size() < kPoseValues || current.size() < static_cast<size_t>(kIkJoints) ||
      kinematics_ == nullptr) {
    printf("chooseIkSolution needs 6 pose values and 5 joints, got %zu and %zu.\n", target.size(),
           current.size());
    return current;
  }

  const Pose6D pose(static_cast<float>(target[0]), static_cast<float>(target[1]),
                    static_cast<float>(target[2]), static_cast<float>(target[3]),
                    static_cast<float>(target[4]), static_cast<float>(target[5]));
  const JointVec5f joints(static_cast<float>(current[0]), static_cast<float>(current[1]),
                          static_cast<float>(current[2]), static_cast<float>(current[3]),
                          static_cast<float>(current[4]));
  printPose6D("pose6D", pose);

  IkSolutions sols;
  if (!kinematics_->inverse(pose, sols)) {
    printf("no solution. 无法到达目标位置\n");
    return current;
  }

  bool valid[kMaxIkSolutions] = {};
  int valid_count = 0;
  const int num_sols = sols.num_sols < kMaxIkSolutions ? sols.num_sols : kMaxIkSolutions;
  for (int s = 0; s < num_sols; ++s) {
    bool in_range = true;
    for (int j = 0; j < kIkJoints; ++j) {
      const double v = sols.q_sols[s][j];
      if (!(v >= kinematics_->joint_min_[j] && v <= kinematics_->joint_max_[j])) {
        in_range = false;
      }
    }
    valid[s] = in_range;
    valid_count += in_range ? 1 : 0;
  }
  printf("validCnt:%d\n", valid_count);
  if (valid_count == 0) {
    printf("无法到达目标位置\n");
    return current;
  }

  // Start from the first valid solution, so an out-of-range one is never returned.
  int chosen = -1;
  float best = kNoChangeYet;
  for (int s = 0; s < num_sols; ++s) {
    if (!valid[s]) {
      continue;
    }
    if (chosen < 0) {
      chosen = s;
    }
    uint8_t index = 0;
    const float change = maxAbsJoint5(diffVec5(joints, sols.q_sols[s]), &index);
    if (change < best) {
      best = change;
      chosen = s;
    }
  }
  printf("indexConfig: %d\n", chosen);

  std::vector<double> result(kIkJoints);
  for (int j = 0; j < kIkJoints; ++j) {
    result[j] = sols.q_sols[chosen][j];
  }
  return result;
}
