#pragma once

#include <string>

#include "motion/kinematics/kinematics_types.h"

void printPose6D(const std::string& label, const Pose6D& pose);
void printVec6(const std::string& label, const JointVec6f& q);
void printVec5(const std::string& label, const JointVec5f& q);
