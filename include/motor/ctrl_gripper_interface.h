#pragma once

// A gripper as the motion code sees it; every operation returns 0 on success.
class CtrlGripperInterface {
 public:
  virtual ~CtrlGripperInterface() {}

  virtual int init() = 0;
  virtual int setEnableStatus(bool enable) = 0;
  virtual int setGripper(int command) = 0;
  // Output: whether the gripper is at its target.
  virtual int getEnableStatus(bool* at_target) = 0;
  virtual int getGripperStopped(bool* stopped) = 0;
};
