#pragma once

#include <vector>

#include "arm_dh_columns.h"
#include "motion/kinematics/arm_kinematics.h"

namespace arm_test {

// The A arm's DH columns as start-up builds them.
inline ArmKinematics makeArmKinematics() {
  const ArmDhColumns dh = armDhColumns();
  return ArmKinematics(dh.theta_offset, dh.alpha, dh.a, dh.d);
}

}  // namespace arm_test
