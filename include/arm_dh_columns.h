#pragma once

#include <vector>

// The A arm's Denavit-Hartenberg columns, joint 1 first, in the order the
// ArmKinematics constructor takes them. Lengths in millimetres.
struct ArmDhColumns {
  std::vector<float> theta_offset;
  std::vector<float> alpha;
  std::vector<float> a;
  std::vector<float> d;
};

inline ArmDhColumns armDhColumns() {
  const float kPi = 3.1415927f;
  const float kHalfPi = 1.5707964f;
  const float kShoulderOffset = -1.44635403f;
  return ArmDhColumns{{0.0f, kShoulderOffset, kShoulderOffset, 0.0f, 0.0f, 0.0f},
                      {0.0f, -kHalfPi, kPi, -kHalfPi, kHalfPi, -kHalfPi},
                      {0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f},
                      {328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f}};
}
