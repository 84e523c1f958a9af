#pragma once

#include <cstdint>

#include "motion/commands/abstract_cmd_interface.h"
#include "motor/ctrl_gripper_interface.h"

// One gripper command. Whoever builds it fills gripper_ and io_value_ before
// queueing it; the gripper is not owned.
class SetIoCmd : public AbstractCmdInterface {
 public:
  SetIoCmd();
  ~SetIoCmd() override {}

  int execute();
  int setIo(uint8_t value);
  int getEnableStatus(bool* at_target);
  int getStopStatus(bool* stopped);

  CtrlGripperInterface* gripper_ = nullptr;
  uint8_t io_value_ = 0;
};
