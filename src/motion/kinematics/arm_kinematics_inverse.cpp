#include <cmath>
#include <cstdio>
#include <iostream>

#include "motion/kinematics/arm_kinematics.h"

namespace {
constexpr double kPi = 3.141592653589793;
// The arm-plane position checks, in the DH length unit.
constexpr double kPlaneTolerance = 1.0;
// Rotation-matrix entries: the model is single precision, and a flipped
// roll or tool axis is off by far more.
constexpr double kRotationTolerance = 1e-4;
// How close the first five links must put the tool to the target (DH length unit).
constexpr float kReachTolerance = 0.01f;

bool passes(double residual, double tolerance) { return std::fabs(residual) < tolerance; }

// Into (-pi, pi], where the joint limits are; q4 is a difference of angles.
double wrapAngle(double a) {
  a = std::remainder(a, 2.0 * kPi);
  return a <= -kPi ? a + 2.0 * kPi : a;
}

bool reachesTarget(const Pose6D& pose, const Pose6D& target, const float* R) {
  if (!(std::fabs(pose.x - target.x) <= kReachTolerance && std::fabs(pose.y - target.y) <= kReachTolerance &&
        std::fabs(pose.z - target.z) <= kReachTolerance)) {
    return false;
  }
  for (int k = 0; k < 9; ++k) {
    if (!(std::fabs(pose.rotation[k] - R[k]) <= kRotationTolerance)) return false;
  }
  return true;
}
}  // namespace

bool ArmKinematics::inverse(const Pose6D& target, IkSolutions& sols) const {
  const double d1 = d_[0], a1 = a_[0], a2 = a_[1], a3 = a_[2], a4 = a_[3], a5 = a_[4];
  const double d5 = d_[4];
  printf("d1:%f a1:%f a2:%f a3:%f a4:%f a5:%f d5:%f \n\n", d1, a1, a2, a3, a4, a5, d5);

  float Rf[9];
  rpyToRot(target.roll, target.pitch, target.yaw, Rf);
  const double r11 = Rf[0], r12 = Rf[1], r13 = Rf[2];
  const double r21 = Rf[3], r22 = Rf[4], r23 = Rf[5];
  const double r31 = Rf[6], r32 = Rf[7], r33 = Rf[8];
  const double px = target.x, py = target.y, pz = target.z;
  printf("SE(3) = \n");
  printf("%f  %f  %f  %f\n", r11, r12, r13, px);
  printf("%f  %f  %f  %f\n", r21, r22, r23, py);
  printf("%f  %f  %f  %f\n", r31, r32, r33, pz);
  printf("%f  %f  %f  %f\n\n", 0.0, 0.0, 0.0, 1.0);

  double found[kMaxIkSolutions][5];
  int count = 0;
  // Wrist centre: one tool length back along the tool axis.
  double A = py - d5 * r23;
  double B = px - d5 * r13;
  for (int i = 0; i < 2; ++i) {
    if (i == 1) {
      A = -A;
      B = -B;
    }
    const double q1 = std::atan2(A, B);
    const double c1 = std::cos(q1), s1 = std::sin(q1);
    if (!passes(s1 * r13 - c1 * r23, kRotationTolerance)) {
      printf("case %d equation (3,3) error\n", i);
      continue;
    }
    double C = -r12 * c1 - s1 * r22;
    double D = c1 * r11 + s1 * r21;
    const double E0 = c1 * px + s1 * py - (c1 * r13 + s1 * r23) * d5 - a1;
    const double G0 = pz - d1 - r33 * d5;
    for (int j = 0; j < 2; ++j) {
      if (j == 1) {
        C = -C;
        D = -D;
      }
      const double q5 = std::atan2(C, D);
      // The arm plane's normal (s1, -c1, 0) seen from the tool is
      // -(sin q5, cos q5); the other roll branch sees it reversed.
      const double s5 = std::sin(q5), c5 = std::cos(q5);
      if (!passes(s1 * r11 - c1 * r21 + s5, kRotationTolerance) ||
          !passes(s1 * r12 - c1 * r22 + c5, kRotationTolerance)) {
        printf("case %d %d equation (2,2) error\n", i, j);
        continue;
      }
      const double F = c5 * r31 - s5 * r32;
      const double E = E0 - a4 * r33;
      const double G = G0 - a4 * F;
      for (int k = 0; k < 2; ++k) {
        const double c = (E * E + G * G - a2 * a2 - a3 * a3) / (2.0 * a2 * a3);
        const double q3 = k == 0 ? std::acos(c) : -std::acos(c);
        if (!std::isfinite(q3)) {
          printf("case %d %d %d q3 is not a valid number\n", i, j, k);
          continue;
        }
        const double s2 = ((a3 * std::cos(q3) + a2) * G - a3 * std::sin(q3) * E) /
                          (a2 * a2 + a3 * a3 + 2.0 * a2 * a3 * std::cos(q3));
        const double q2 = std::atan2(s2, (a3 * std::sin(q3) * s2 + E) / (a3 * std::cos(q3) + a2));
        const double q4 = std::atan2(F, r33) - q2 - q3;
        const double X = a4 * std::cos(q2 + q3 + q4) + a3 * std::cos(q2 + q3) + a2 * std::cos(q2);
        const double Z = a4 * std::sin(q2 + q3 + q4) + a3 * std::sin(q2 + q3) + a2 * std::sin(q2);
        if (!passes(X - E0, kPlaneTolerance)) {
          printf("case %d %d %d equation (1,4) error\n", i, j, k);
          continue;
        }
        if (!passes(Z - G0, kPlaneTolerance)) {
          printf("case %d %d %d equation (2,4) error\n", i, j, k);
          continue;
        }
        const double q[5] = {q1, q2, q3, q4, q5};
        JointVec5f qf;
        for (int v = 0; v < 5; ++v) {
          found[count][v] = wrapAngle(q[v]);
          qf[v] = static_cast<float>(found[count][v]);
        }
        // The closed form fixes only d1, a1..a4 and d5; a model with other
        // twists or offsets must not get joints that miss.
        Pose6D reached;
        float work[5][3];
        if (!forwardFive(qf, reached, work, true) || !reachesTarget(reached, target, Rf)) {
          printf("case %d %d %d does not reach the target\n", i, j, k);
          continue;
        }
        ++count;
      }
    }
  }
  printf("num_sols: %d\n", count);
  sols.num_sols = count;
  for (int s = 0; s < count; ++s) {
    std::cout << "q_sols:" << s << ":  " << found[s][0] << "," << found[s][1] << ","
              << found[s][2] << "," << found[s][3] << "," << found[s][4] << std::endl;
    for (int v = 0; v < 5; ++v) sols.q_sols[s][v] = static_cast<float>(found[s][v]);
  }
  return count != 0;
}
