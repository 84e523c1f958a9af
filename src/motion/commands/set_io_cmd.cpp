#include "motion/commands/set_io_cmd.h"

#include <cstdio>

SetIoCmd::SetIoCmd() { cmd_type = kCmdTypeGripper; }

int SetIoCmd::execute() { return setIo(io_value_); }

int SetIoCmd::setIo(uint8_t value) {
  if (gripper_ == nullptr) {
    puts("The gripper command has no gripper.");
    return -1;
  }
  return gripper_->setGripper(value);
}

int SetIoCmd::getEnableStatus(bool* at_target) {
  if (gripper_ == nullptr) {
    puts("The gripper command has no gripper.");
    return -1;
  }
  bool flag = false;
  int rc = gripper_->getEnableStatus(&flag);
  if (at_target != nullptr) *at_target = flag;
  return rc;
}

int SetIoCmd::getStopStatus(bool* stopped) {
  if (gripper_ == nullptr) {
    puts("The gripper command has no gripper.");
    return -1;
  }
  bool flag = false;
  int rc = gripper_->getGripperStopped(&flag);
  if (stopped != nullptr) *stopped = flag;
  return rc;
}
