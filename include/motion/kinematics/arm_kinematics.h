#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "motion/kinematics/kinematics_math.h"
#include "motion/kinematics/kinematics_print.h"
#include "motion/kinematics/kinematics_types.h"

// Every joint of the arm turns within +-pi (single precision).
constexpr float kJointLimit = 3.1415927f;

// The arm's DH model (standard convention), its forward kinematics in single
// precision, the closed-form inverse of the five-joint arm, and the joint
// limits that every command target is checked against.
class ArmKinematics {
 public:
  // Columns in this order: theta offset, alpha, a, d. Columns shorter than the
  // theta offset column, or more than six joints, leave an empty model.
  ArmKinematics(const std::vector<float>& theta_offset, const std::vector<float>& alpha,
                const std::vector<float>& a, const std::vector<float>& d);

  // Six-joint model; 1, or 0 with a zero pose when the model has not six joints.
  int forwardPose(const JointVec6f& q, Pose6D& pose);
  // Five-joint model; 1, or 0 with a zero pose when it has fewer than five.
  int forwardSE3(const JointVec5f& q, Pose6D& pose);
  // Reads x, y, z, roll, pitch, yaw of the target; true when a branch passed.
  // Every solution puts the tool on the target through the first five links
  // of the model, its joints wrapped into (-pi, pi].
  bool inverse(const Pose6D& target, IkSolutions& sols) const;

  // joint_min_[i] <= v <= joint_max_[i] compared in double; NaN and joints
  // beyond the sixth are out of range.
  bool isJointInRange(std::size_t i, double v) const;

  float d_[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  float a_[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  float alpha_[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  float theta_offset_[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  DhRow dh_table5_[5];
  DhRow dh_table6_[6];
  float link_trans_[6][3] = {};
  uint32_t joint_count_ = 0;
  JointVec6f joint_min_;
  JointVec6f joint_max_;

 private:
  void cacheTwists();
  // The first five links into a caller's work area, so that const operations
  // can check joints; false when the model has fewer than five joints.
  // forwardSE3 reads dh_table5_ (all zeros for six joints); model_rows reads
  // the rows of the model as built, which the closed form solved.
  bool forwardFive(const JointVec5f& q, Pose6D& pose, float (*link_trans)[3], bool model_rows) const;

  // cosf and sinf of each row's twist, fixed with the model.
  float cos_alpha6_[6] = {};
  float sin_alpha6_[6] = {};
  float cos_alpha5_[5] = {};
  float sin_alpha5_[5] = {};
};
