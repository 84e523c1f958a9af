#pragma once

#include <cmath>
#include <cstdint>

#include "motion/kinematics/kinematics_types.h"

// C (m x p) = A (m x n) * B (n x p), row-major, accumulated in float.
// Inline so that the fixed sizes of the kinematics unroll.
inline void matMul(const float* A, const float* B, float* C, int m, int n, int p) {
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < p; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < n; ++k) sum += A[i * n + k] * B[k * p + j];
      C[i * p + j] = sum;
    }
  }
}

// At or beyond this |R31| the pitch is taken as +-pi/2.
constexpr double kPitchSingularity = 0.9999;
constexpr float kHalfPi = 1.5707964f;

// Rotation (row-major) to roll, pitch, yaw. Near pitch +-pi/2 yaw is 0 and
// roll carries the combined angle. Inline: it runs in every pose update.
inline void rotToRpy(const float* R, float* rpy) {
  const float r11 = R[0], r12 = R[1], r21 = R[3], r22 = R[4];
  const float r31 = R[6], r32 = R[7], r33 = R[8];
  float roll, pitch, yaw;
  if (std::fabs(static_cast<double>(r31)) >= kPitchSingularity) {
    yaw = 0.0f;
    if (r31 < 0.0f) {
      pitch = kHalfPi;
      roll = atan2f(r12, r22);
    } else {
      pitch = -kHalfPi;
      roll = -atan2f(r12, r22);
    }
  } else {
    pitch = atan2f(-r31, sqrtf(r11 * r11 + r21 * r21));
    const float c = cosf(pitch);
    yaw = atan2f(r21 / c, r11 / c);
    roll = atan2f(r32 / c, r33 / c);
  }
  rpy[0] = roll;
  rpy[1] = pitch;
  rpy[2] = yaw;
}

// R = RotZ(yaw) * RotY(pitch) * RotX(roll), row-major.
void rpyToRot(float roll, float pitch, float yaw, float* R);

JointVec5f diffVec5(const JointVec5f& a, const JointVec5f& b);
JointVec6f diffVec6(const JointVec6f& a, const JointVec6f& b);

// Largest magnitude of the five values; index (may be null) gets the first
// joint that has it.
float maxAbsJoint5(const JointVec5f& v, uint8_t* index);
