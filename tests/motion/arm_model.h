#pragma once

#include <vector>

#include "arm_kinematics.h"

// The A arm's DH columns as start-up builds them.
inline ArmKinematics makeArmKinematics() {
  const std::vector<float> theta = {0.0f, -1.44635403f, -1.44635403f, 0.0f, 0.0f, 0.0f};
  const std::vector<float> alpha = {0.0f, -1.5707964f, 3.1415927f, -1.5707964f, 1.5707964f, -1.5707964f};
  const std::vector<float> a = {0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f};
  const std::vector<float> d = {328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f};
  return ArmKinematics(theta, alpha, a, d);
}
