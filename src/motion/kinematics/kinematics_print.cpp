#include "motion/kinematics/kinematics_print.h"

#include <cstdio>

void printPose6D(const std::string& label, const Pose6D& pose) {
  printf("%s: %f , %f , %f , %f , %f , %f\n", label.c_str(), pose.x, pose.y, pose.z, pose.roll,
         pose.pitch, pose.yaw);
}

void printVec6(const std::string& label, const JointVec6f& q) {
  printf("%s: %f , %f ,%f ,%f ,%f, %f\n", label.c_str(), q[0], q[1], q[2], q[3], q[4], q[5]);
}

void printVec5(const std::string& label, const JointVec5f& q) {
  printf("%s: %f , %f ,%f ,%f ,%f\n", label.c_str(), q[0], q[1], q[2], q[3], q[4]);
}
