#pragma once

#include <cstdint>
#include <vector>

#include "motor/ctrl_motor_interface.h"

// One joint of the motor-axes set. The motor is shared by every copy.
struct AxisPara {
  double max_vel = 0.0;
  double max_acc = 0.0;
  double ratio = 0.0;
  CtrlMotorInterface* motor = nullptr;
};

// Per-axis record sized and copied with the set; nothing reads its contents.
struct AxisReserved {
  double words[4] = {0.0, 0.0, 0.0, 0.0};
};

// The motor-axes set, copyable by value.
struct RobotPara {
  int32_t axis_num = 0;
  std::vector<AxisReserved> axis_reserved;
  std::vector<AxisPara> axis_paras;
};
