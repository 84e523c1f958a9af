#pragma once

#include "motion/commands/robot_para.h"

// Builds the six joints of the A arm with their motors and limits.
RobotPara initMotorAxises();
