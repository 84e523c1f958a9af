#include "motion/kinematics/arm_kinematics.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
constexpr uint32_t kMaxJoints = 6;

// Rotation (row-major) and translation of one standard DH link.
void linkTransform(float theta, float ca, float sa, float a, float d, float* R, float* p) {
  const float ct = cosf(theta), st = sinf(theta);
  R[0] = ct;
  R[1] = -ca * st;
  R[2] = sa * st;
  R[3] = st;
  R[4] = ca * ct;
  R[5] = -sa * ct;
  R[6] = 0.0f;
  R[7] = sa;
  R[8] = ca;
  p[0] = a * ct;
  p[1] = a * st;
  p[2] = d;
}

// 3x3 times 3x3 and 3x3 times 3x1, unrolled; each sum starts from 0.0f and
// adds in ascending k, exactly as matMul does.
inline void mul33(const float* A, const float* B, float* C) {
  for (int i = 0; i < 3; ++i) {
    const float a0 = A[3 * i], a1 = A[3 * i + 1], a2 = A[3 * i + 2];
    C[3 * i] = ((0.0f + a0 * B[0]) + a1 * B[3]) + a2 * B[6];
    C[3 * i + 1] = ((0.0f + a0 * B[1]) + a1 * B[4]) + a2 * B[7];
    C[3 * i + 2] = ((0.0f + a0 * B[2]) + a1 * B[5]) + a2 * B[8];
  }
}

inline void mul31(const float* A, const float* b, float* c) {
  c[0] = ((0.0f + A[0] * b[0]) + A[1] * b[1]) + A[2] * b[2];
  c[1] = ((0.0f + A[3] * b[0]) + A[4] * b[1]) + A[5] * b[2];
  c[2] = ((0.0f + A[6] * b[0]) + A[7] * b[1]) + A[8] * b[2];
}

// Chains links 1..N: rotations left to right, each link's translation
// rotated into the base frame, then summed in link order after link 1.
// Works on locals so that the compiler can keep the chain in registers.
template <uint32_t N>
void chainLinks(const DhRow* rows, const float* cos_alpha, const float* sin_alpha,
                const float* a_col, const float* d_col, const float* q, float (*link_trans)[3],
                Pose6D& pose) {
  float R[N][9];
  float p[N][3];
  for (uint32_t i = 0; i < N; ++i) {
    const float theta = q[i] + rows[i].theta_offset;
    linkTransform(theta, cos_alpha[i], sin_alpha[i], a_col[i], d_col[i], R[i], p[i]);
  }
  // Ping-pong between two buffers: a copy back would stall on store forwarding.
  float buf[2][9];
  const float* M = R[0];
  float pos[3];
  mul31(M, p[1], pos);
  mul33(M, R[1], buf[0]);
  M = buf[0];
  for (uint32_t i = 2; i < N; ++i) {
    float t[3];
    mul31(M, p[i], t);
    pos[0] += t[0];
    pos[1] += t[1];
    pos[2] += t[2];
    float* out = buf[(i - 1) & 1];
    mul33(M, R[i], out);
    M = out;
  }
  float rpy[3];
  rotToRpy(M, rpy);
  pose.x = pos[0] + p[0][0];
  pose.y = pos[1] + p[0][1];
  pose.z = pos[2] + p[0][2];
  pose.roll = rpy[0];
  pose.pitch = rpy[1];
  pose.yaw = rpy[2];
  std::memcpy(pose.rotation, M, sizeof(pose.rotation));
  std::memcpy(link_trans, p, sizeof(p));
}
}  // namespace

ArmKinematics::ArmKinematics(const std::vector<float>& theta_offset,
                             const std::vector<float>& alpha, const std::vector<float>& a,
                             const std::vector<float>& d) {
  for (uint32_t i = 0; i < kMaxJoints; ++i) {
    joint_min_[i] = -kJointLimit;
    joint_max_[i] = kJointLimit;
  }
  const size_t count = theta_offset.size();
  if (count > kMaxJoints || alpha.size() < count || a.size() < count || d.size() < count) {
    printf("The DH columns do not fit (theta %zu, alpha %zu, a %zu, d %zu values): the model is "
           "left empty.\n",
           theta_offset.size(), alpha.size(), a.size(), d.size());
    joint_count_ = 0;
    cacheTwists();
    return;
  }
  joint_count_ = static_cast<uint32_t>(count);
  DhRow rows[kMaxJoints];
  for (uint32_t i = 0; i < joint_count_; ++i) {
    rows[i] = DhRow{theta_offset[i], d[i], a[i], alpha[i]};
    d_[i] = d[i];
    a_[i] = a[i];
    alpha_[i] = alpha[i];
    theta_offset_[i] = theta_offset[i];
  }
  if (joint_count_ == 6) {
    for (uint32_t i = 0; i < 6; ++i) dh_table6_[i] = rows[i];
  } else if (joint_count_ == 5) {
    for (uint32_t i = 0; i < 5; ++i) dh_table5_[i] = rows[i];
  }
  cacheTwists();
}

void ArmKinematics::cacheTwists() {
  for (uint32_t i = 0; i < 6; ++i) {
    cos_alpha6_[i] = cosf(dh_table6_[i].alpha);
    sin_alpha6_[i] = sinf(dh_table6_[i].alpha);
  }
  for (uint32_t i = 0; i < 5; ++i) {
    cos_alpha5_[i] = cosf(dh_table5_[i].alpha);
    sin_alpha5_[i] = sinf(dh_table5_[i].alpha);
  }
}

int ArmKinematics::forwardPose(const JointVec6f& q, Pose6D& pose) {
  if (joint_count_ != 6) {
    pose = Pose6D();
    return 0;
  }
  chainLinks<6>(dh_table6_, cos_alpha6_, sin_alpha6_, a_, d_, q.v, link_trans_, pose);
  return 1;
}

int ArmKinematics::forwardSE3(const JointVec5f& q, Pose6D& pose) {
  if (!forwardFive(q, pose, link_trans_, false)) {
    pose = Pose6D();
    return 0;
  }
  return 1;
}

bool ArmKinematics::forwardFive(const JointVec5f& q, Pose6D& pose, float (*link_trans)[3],
                                bool model_rows) const {
  if (joint_count_ < 5) return false;
  if (model_rows && joint_count_ == 6) {
    chainLinks<5>(dh_table6_, cos_alpha6_, sin_alpha6_, a_, d_, q.v, link_trans, pose);
  } else {
    chainLinks<5>(dh_table5_, cos_alpha5_, sin_alpha5_, a_, d_, q.v, link_trans, pose);
  }
  return true;
}

bool ArmKinematics::isJointInRange(std::size_t i, double v) const {
  if (i >= kMaxJoints) return false;
  return v >= static_cast<double>(joint_min_[i]) && v <= static_cast<double>(joint_max_[i]);
}
