#include "motion/producers/joint_move_producer.h"

#include <cstddef>
#include <cstdio>
#include <mutex>

#include "motion/commands/all_axises_joint_planner.h"
#include "motion/kinematics/arm_kinematics.h"
#include "motion/loop/interpolator.h"
#include "motion/commands/motor_io_cmd.h"
#include "motion/planning/trapezoid_planner.h"

namespace joint_move {

namespace {

constexpr int kJointLimitCount = 6;
// Every axis is re-timed to one common timing so the joints start and stop together.
constexpr uint32_t kSyncAxes = 1;

void queueMotorIo(Interpolator* interpolator, bool home, bool enable) {
  MotorIoCmd* cmd = new MotorIoCmd();
  cmd->setRobotPara(interpolator->getRobotPara());
  if (home) {
    cmd->setHome();
  } else {
    cmd->setEnable(enable);
  }
  // A home moves the next move's start; it must not slip in behind a start fetch.
  std::lock_guard<std::mutex> turn(interpolator->producer_mutex_);
  interpolator->insertCmd(cmd);
}

}  // namespace

bool refuseWhenAbnormal(const Interpolator* interpolator) {
  if (!interpolator->abnormal_flag) return false;
  puts("The robot state is abnormal. Do not respond any command.");
  return true;
}

int firstAxisOverRange(const Interpolator* interpolator, const double* values, int count,
                       int axis_num) {
  const ArmKinematics* kin = interpolator->kinematics_;
  for (int i = 0; i < axis_num; ++i) {
    if (i >= count || i >= kJointLimitCount || kin == nullptr) return i;
    const double v = values[i];
    const double lo = kin->joint_min_[static_cast<std::size_t>(i)];
    const double hi = kin->joint_max_[static_cast<std::size_t>(i)];
    // Written so that NaN fails as well.
    if (!(v >= lo && v <= hi)) return i;
  }
  return -1;
}

bool checkJointRange(const Interpolator* interpolator, const std::vector<double>& target,
                     int axis_num) {
  const int bad = firstAxisOverRange(interpolator, target.data(), static_cast<int>(target.size()),
                                     axis_num);
  if (bad < 0) return true;
  printf("The %dst axim angle is over range.Please send viable command again.\n", bad + 1);
  return false;
}

double clampVelocityScale(double scale) {
  if (scale > kMaxScale) {
    puts("velocity scale > 1.0 error, we reset velocity scale 0.5!");
    return kFallbackScale;
  }
  return scale;
}

bool planJointMove(Interpolator* interpolator, const std::vector<double>& target, int axis_num,
                   double scale) {
  const RobotPara para = interpolator->getRobotPara();
  // Held until the insert, so that a move queued meanwhile by the other
  // producer cannot end somewhere this one does not start.
  std::lock_guard<std::mutex> turn(interpolator->producer_mutex_);
  const std::vector<double> start = interpolator->getNextMoveStart();
  const std::size_t n = static_cast<std::size_t>(axis_num < 0 ? 0 : axis_num);
  // Without a start for every axis the move would jump.
  if (target.size() < n || para.axis_paras.size() < n || start.size() < n) return false;

  AllAxisesJointPlanner* cmd = new AllAxisesJointPlanner();
  cmd->setPlannerType(kPlannerTrapezoid);
  std::vector<TrajectoryInterface*> planners;
  for (int i = 0; i < axis_num; ++i) planners.push_back(new TrapezoidPlanner(kSyncAxes));
  cmd->setRobotPara(para);
  cmd->setTrajInterfaces(planners);
  if (cmd->traj_interface_ptrs_ != planners) {
    // Refused lists stay ours.
    for (TrajectoryInterface* p : planners) delete p;
  }

  for (int i = 0; i < axis_num; ++i) {
    const AxisPara& axis = para.axis_paras[static_cast<std::size_t>(i)];
    TrapezoidPlannerInput input;
    input.reserved = 0.0;
    input.q0 = start[static_cast<std::size_t>(i)];
    input.q1 = target[static_cast<std::size_t>(i)];
    input.v0 = 0.0;
    input.v1 = 0.0;
    input.vmax = axis.max_vel * scale;
    input.amax = axis.max_acc * scale;
    input.amin = -axis.max_acc * scale;
    printf("TrapezoidPlannerInput:%lf,%lf,%lf,%lf,%lf\n", input.q0, input.q1, input.vmax,
           input.amax, input.amin);
    cmd->setInput(i, &input);
  }
  // A failed plan is reported by the planner itself and refused by the loop.
  cmd->plan();

  if (interpolator->abnormal_flag) {
    puts("The robot state is abnormal. Do not respond any command.");
    delete cmd;
    return false;
  }
  interpolator->insertCmd(cmd);
  return true;
}

void queueEnableCmd(Interpolator* interpolator, bool enable) {
  queueMotorIo(interpolator, false, enable);
}

void queueHomeCmd(Interpolator* interpolator) { queueMotorIo(interpolator, true, false); }

}  // namespace joint_move
