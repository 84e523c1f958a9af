#include "motion/commands/motor_io_cmd.h"

#include <unistd.h>

#include <cstdio>

namespace {
// Pauses between axes, so the bus thread gets to each servo in turn.
constexpr useconds_t kEnablePauseUs = 1000;
constexpr useconds_t kHomePauseUs = 300;
}  // namespace

MotorIoCmd::MotorIoCmd() { cmd_type = kCmdTypeMotorIo; }

void MotorIoCmd::setRobotPara(const RobotPara& para) { robot_para_ = para; }

void MotorIoCmd::setEnable(bool on) {
  kind_ = kMotorIoEnable;
  enable_ = on;
}

void MotorIoCmd::setHome() { kind_ = kMotorIoHome; }

int MotorIoCmd::execute() { return setEnableStatus(enable_); }

bool MotorIoCmd::axesUsable() const {
  if (robot_para_.axis_num < 0 ||
      robot_para_.axis_paras.size() < static_cast<size_t>(robot_para_.axis_num)) {
    printf("The motor axes set has %zu axes but claims %d.\n", robot_para_.axis_paras.size(),
           robot_para_.axis_num);
    return false;
  }
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    if (robot_para_.axis_paras[i].motor == nullptr) {
      printf("The <%d> axis has no motor.\n", i + 1);
      return false;
    }
  }
  return true;
}

int MotorIoCmd::setEnableStatus(bool on) {
  if (!axesUsable()) return -1;
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    int rc = robot_para_.axis_paras[i].motor->setEnableStatus(on);
    if (rc != 0) {
      printf("The <%d> axis return error_code=<%d> when setEnableStatus.\n", i + 1, rc);
      return rc;
    }
    usleep(kEnablePauseUs);
  }
  return 0;
}

int MotorIoCmd::readEnableStates(bool* all_on, bool* any_on) {
  *all_on = false;
  *any_on = false;
  if (!axesUsable()) return -1;
  bool all = true;
  bool any = false;
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    bool on = false;
    int rc = robot_para_.axis_paras[i].motor->getEnableStatus(&on);
    if (rc != 0) {
      printf("The <%d> axis return error_code=<%d> when getEnableStatus.\n", i + 1, rc);
      return rc;
    }
    all = all && on;
    any = any || on;
  }
  *all_on = all;
  *any_on = any;
  return 0;
}

int MotorIoCmd::getEnableStatus(bool* all_on) {
  bool all = false;
  bool any = false;
  int rc = readEnableStates(&all, &any);
  if (all_on != nullptr) *all_on = all;
  return rc;
}

int MotorIoCmd::getEnableStatus(bool* all_on, bool* all_off) {
  bool any = true;
  const int rc = readEnableStates(all_on, &any);
  *all_off = rc == 0 && !any;
  return rc;
}

bool MotorIoCmd::isEnableDone() {
  bool all = false;
  bool any = false;
  if (readEnableStates(&all, &any) != 0) return false;
  // A disable is done only when no axis still holds torque.
  return enable_ ? all : !any;
}

int MotorIoCmd::seHome(uint32_t timeout_s) {
  if (!axesUsable()) return -1;
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    int rc = robot_para_.axis_paras[i].motor->seHome(timeout_s);
    if (rc != 0) {
      printf("The <%d> axis return error_code=<%d> when seHome.\n", i + 1, rc);
      return -1;
    }
    usleep(kHomePauseUs);
  }
  return 0;
}
