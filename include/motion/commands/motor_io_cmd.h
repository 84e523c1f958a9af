#pragma once

#include <cstdint>

#include "motion/commands/abstract_cmd_interface.h"
#include "motion/commands/robot_para.h"

// What a MotorIoCmd asks for.
constexpr int32_t kMotorIoEnable = 0;
constexpr int32_t kMotorIoHome = 1;
constexpr int32_t kMotorIoNone = 2;

// Enable, disable or home every axis of the set it carries. Used both as a
// queued command and, by the Interpolator, to read the arm's enable state.
class MotorIoCmd : public AbstractCmdInterface {
 public:
  MotorIoCmd();
  ~MotorIoCmd() override {}

  void setRobotPara(const RobotPara& para);
  void setEnable(bool on);
  void setHome();
  int32_t getKind() const { return kind_; }

  // Sends enable_ to every axis.
  int execute();
  // Stops at the first axis that fails and returns its code.
  int setEnableStatus(bool on);
  // all_on is the AND over every axis; a failed read stops at that axis.
  int getEnableStatus(bool* all_on);
  // The same reads, once: all_off is true only when every axis was read and
  // none holds torque.
  int getEnableStatus(bool* all_on, bool* all_off);
  // True once every axis reads the requested state: all enabled for an
  // enable request, all disabled for a disable request.
  bool isEnableDone();
  // Homes axis after axis; -1 on the first failure.
  int seHome(uint32_t timeout_s);

  RobotPara robot_para_;
  bool enable_ = false;
  int32_t kind_ = kMotorIoNone;

 private:
  // Fails with a printed line when the set cannot be driven as it claims.
  bool axesUsable() const;
  int readEnableStates(bool* all_on, bool* any_on);
};
