#include "motion/kinematics/kinematics_math.h"

#include <cmath>

void rpyToRot(float roll, float pitch, float yaw, float* R) {
  const float cr = cosf(roll), sr = sinf(roll);
  const float cp = cosf(pitch), sp = sinf(pitch);
  const float cy = cosf(yaw), sy = sinf(yaw);
  R[0] = cy * cp;
  R[1] = cy * sp * sr - sy * cr;
  R[2] = cy * sp * cr + sy * sr;
  R[3] = sy * cp;
  R[4] = sy * sp * sr + cy * cr;
  R[5] = sy * sp * cr - cy * sr;
  R[6] = -sp;
  R[7] = cp * sr;
  R[8] = cp * cr;
}

JointVec5f diffVec5(const JointVec5f& a, const JointVec5f& b) {
  JointVec5f d;
  for (int i = 0; i < 5; ++i) d[i] = a[i] - b[i];
  return d;
}

JointVec6f diffVec6(const JointVec6f& a, const JointVec6f& b) {
  JointVec6f d;
  for (int i = 0; i < 6; ++i) d[i] = a[i] - b[i];
  return d;
}

float maxAbsJoint5(const JointVec5f& v, uint8_t* index) {
  float m = -1.0f;
  for (uint8_t j = 0; j < 5; ++j) {
    if (std::fabs(v[j]) > m) {
      m = std::fabs(v[j]);
      if (index != nullptr) *index = j;
    }
  }
  return m;
}
