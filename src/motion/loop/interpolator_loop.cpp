#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>

#include "motion/commands/abstract_cmd_interface.h"
#include "motion/commands/all_axises_joint_planner.h"
#include "motion/loop/interpolator.h"
#include "motion/commands/motor_io_cmd.h"
#include "motion/commands/set_io_cmd.h"

namespace {
// An axis measured slower than this is at rest.
constexpr double kGoalRestVel = 0.01;
// An axis at rest this close to its goal has arrived: above what the servos'
// reading scale (0.088 degrees a step) and a holding servo's error leave.
constexpr double kArrivedTolerance = 0.02;
// A move that has not arrived this long after its plan ended never will (a
// stalled joint, a speed reading that never settles): it ends, and the next
// command runs.
constexpr double kSettleTimeS = 3.0;
constexpr int kSettlePasses = static_cast<int>(kSettleTimeS / 0.005);
// An axis that follows its goals stands at most as far behind them as they
// go (at the move's fastest planned speed so far) in the time its motor gives
// a goal to show in the reading, plus the reading noise arrival allows for.
constexpr double kFollowNoise = kArrivedTolerance;
// How long a new trajectory waits for a reading of every axis from the latest pass.
constexpr int kFreshWaitPasses = 100;
// A trapezoid move starting further than this from where an axis stands is
// planned again from the readings (about three feedback steps).
constexpr double kRebaseTolerance = 0.005;
// A stop has ended when every planned velocity is below this.
constexpr double kStopRestVel = 1e-5;
// Rounding of the finite difference must not kill a sample planned at the limit.
constexpr double kVelLimitTolerance = 1e-9;
// The enable value is sent on this many passes before the state is polled.
constexpr int kEnableSendPasses = 6;
constexpr double kEnableTimeoutS = 0.5;
constexpr uint32_t kHomeTimeoutS = 3000;
constexpr auto kGripperSettle = std::chrono::microseconds(50000);
constexpr double kInf = std::numeric_limits<double>::infinity();

// The loop's velocity check; written so that NaN fails it.
bool withinVelocityLimit(double vel, double max_vel) {
  return std::fabs(vel) <= max_vel * (1.0 + kVelLimitTolerance);
}

// Joints that have limits in the arm model.
constexpr int kLimitedJoints = 6;

// Sign of the velocity a stop ramp takes away, 0 for an axis at rest.
double stopDirection(double decel) { return decel < 0.0 ? 1.0 : (decel > 0.0 ? -1.0 : 0.0); }

// The fastest step (as a speed, >= 0) after which braking by max_acc * period
// each step still comes to rest within room. From speed k * u, k steps cover
// k(k+1)/2 * u * period. Without a usable max_acc the room is a wall.
double brakingSpeedLimit(double room, double max_acc, double period) {
  if (!(room > 0.0)) return 0.0;
  if (!std::isfinite(room)) return kInf;
  if (!(max_acc > 0.0) || !std::isfinite(max_acc)) return room / period;
  const double u = max_acc * period;
  const double r = room / (u * period);
  const double k = std::max(1.0, std::ceil((std::sqrt(1.0 + 8.0 * r) - 1.0) / 2.0));
  return u * (r / k + (k - 1.0) / 2.0);
}
}  // namespace

void Interpolator::startLoop() {
  loop_start_time_ = systemSeconds();
  loop_ = LoopState();
}

void Interpolator::requestQuit() { quit_ = true; }

void Interpolator::run() {
  startLoop();
  while (!quit_) {
    runPass();
    sleepPass();
  }
}

void Interpolator::sleepPass() const {
  std::this_thread::sleep_for(
      std::chrono::microseconds(static_cast<long long>(period_us_ * loop_.time_scale)));
}

void Interpolator::runPass() {
  if (readMotorStates() != kMotorReadOk) {
    puts("Do not get useful motor_angle.");
    return;
  }
  bool enabled = false;
  bool all_torque_off = false;
  {
    std::lock_guard<std::mutex> lock(enable_mutex_);
    enabled = enable_state_;
    all_torque_off = all_torque_off_;
  }

  publishMotorState(loop_.idle);
  updatePose();
  publishSystemState(abnormal_flag);

  if (loop_.idle) {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (cmd_queue_.empty()) {
      return;
    }
    loop_.cmd = cmd_queue_.front().get();
    puts("interpolator read new command.");
    loop_.t = 0.0;
    loop_.idle = false;
    loop_.wait_peroid_num = 0;
  }

  // Only with a command in hand: a standing collision stops each command as
  // it is taken, with everything queued by then.
  if (collision_result_ == kCollisionFound) {
    stop();
  }

  if (stop_flag_ == 1) {
    stopStep(&stop_flag_);
    return;
  }

  const int32_t type = loop_.cmd->cmd_type;
  if (type == kCmdTypeTrajectory) {
    if (auto* planner = dynamic_cast<AllAxisesJointPlanner*>(loop_.cmd)) {
      runTrajectory(planner, enabled);
      return;
    }
  } else if (type == kCmdTypeMotorIo) {
    if (auto* io = dynamic_cast<MotorIoCmd*>(loop_.cmd)) {
      runMotorIo(io, all_torque_off);
      return;
    }
  } else if (type == kCmdTypeGripper) {
    if (auto* gripper = dynamic_cast<SetIoCmd*>(loop_.cmd)) {
      runGripper(gripper);
      return;
    }
  }
  // Left in hand it would block the queue for good.
  printf("The command of type <%d> is unknown and has been dropped.\n", type);
  endCommand();
}

void Interpolator::endCommand() {
  std::unique_ptr<AbstractCmdInterface> done;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (!cmd_queue_.empty() && cmd_queue_.front().get() == loop_.cmd) {
      done = std::move(cmd_queue_.front());
      cmd_queue_.pop_front();
      if (stop_drops_ > 0) --stop_drops_;
    }
    // A stop that came while this command made its last step, with nothing
    // queued before it, has nothing left to stop and must not wait for the
    // next command; with nothing queued the next move starts from the
    // measured position.
    if (stop_drops_ == 0) stop_flag_ = 0;
    if (cmd_queue_.empty()) queued_end_.clear();
  }
  // Deleted outside the lock.
  done.reset();
  forgetCommand();
}

void Interpolator::endStop(std::atomic<uint32_t>* stop_flag) {
  std::deque<std::unique_ptr<AbstractCmdInterface>> dropped;
  {
    // The flag and what the stop cancels go in one step: a stop() that comes
    // after finds only what was queued after this one, or nothing to stop.
    std::unique_lock<std::mutex> lock(queue_mutex_);
    *stop_flag = 0;
    for (; stop_drops_ > 0 && !cmd_queue_.empty(); --stop_drops_) {
      dropped.push_back(std::move(cmd_queue_.front()));
      cmd_queue_.pop_front();
    }
    stop_drops_ = 0;
    if (cmd_queue_.empty()) queued_end_.clear();
  }
  forgetCommand();
}

void Interpolator::forgetCommand() {
  loop_.cmd = nullptr;
  loop_.idle = true;
  loop_.t = 0.0;
  loop_.goal = false;
  loop_.wait_peroid_num = 0;
  loop_.gripper_polls = 0;
  loop_.fresh_waits = 0;
  loop_.settle_passes = 0;
  // The next trajectory starts from the measured position, and a later stop
  // must not ramp along the velocities of a command that is gone.
  loop_.sample_count = 0;
  for (AxisPlanState& state : plan_states_) {
    state.vel = 0.0;
    state.acc = 0.0;
  }
}

void Interpolator::runTrajectory(AllAxisesJointPlanner* planner, bool enabled) {
  if (loop_.sample_count == 0 && awaitingReadings()) return;
  if (!enabled) {
    puts("enable is OFF, the trajectory can not be executed!");
    endCommand();
    return;
  }
  if (loop_.sample_count == 0 && !startFromReadings(planner)) return;
  if (loop_.sample_count > 0 && !followsGoals()) {
    holdWhereItStands();
    endCommand();
    return;
  }
  const int r = planner->calAllJointsPostion(target_positions_, loop_.t);
  if (r == kSampleError) {
    puts("calAllJointsPostion return error!");
    endCommand();
    return;
  }

  const int axes = robot_para_.axis_num;
  auto previous = [this](int i) {
    if (loop_.sample_count == 0) {
      return AxisPlanState{axis_states_[i].pos, 0.0, 0.0};
    }
    return plan_states_[i];
  };
  for (int i = 0; i < axes; ++i) {
    const AxisPlanState prev = previous(i);
    AxisPlanState& next = candidate_states_[i];
    next.pos = target_positions_[i];
    next.vel = (next.pos - prev.pos) / period_;
    next.acc = (next.vel - prev.vel) / period_;
  }

  for (int i = 0; i < axes; ++i) {
    const double vel = candidate_states_[i].vel;
    const double limit = robot_para_.axis_paras[i].max_vel;
    if (!withinVelocityLimit(vel, limit)) {
      printf("The <%d> axis planned velocity exceed the limit !\n", i + 1);
      printf("The <%d> axis planned velocity is %lf !\n", i + 1, vel);
      holdWhereItStands();
      endCommand();
      puts("The current command has been killed!");
      return;
    }
  }

  // The sample passed: only now does it become the planned state.
  for (int i = 0; i < axes; ++i) {
    prev_plan_states_[i] = previous(i);
    plan_states_[i] = candidate_states_[i];
    const double speed = std::fabs(plan_states_[i].vel);
    follow_speeds_[i] = loop_.sample_count == 0 ? speed : std::max(follow_speeds_[i], speed);
  }
  ++loop_.sample_count;

  for (int i = 0; i < axes; ++i) {
    const AxisPara& axis = robot_para_.axis_paras[i];
    const int rc = axis.motor->setMotorPosition(plan_states_[i].pos * axis.ratio);
    if (rc != 0) {
      printf("When the %d axis setMotorPosition has an error,errorcode=<%d>\n", i + 1, rc);
      endCommand();
      return;
    }
  }
  loop_.goal = r == kSampleFinished && arrived();
  loop_.t += period_;

  if (loop_.goal) {
    puts("plan and curpos arrives goal");
    endCommand();
  } else if (loop_.settle_passes > kSettlePasses) {
    holdWhereItStands();
    endCommand();
  }
}

bool Interpolator::followsGoals() {
  for (int i = 0; i < robot_para_.axis_num; ++i) {
    const double behind = std::fabs(plan_states_[i].pos - axis_states_[i].pos);
    // Still since the move began, an axis has nothing to lag behind (and 0 x infinity is no bound).
    const double lag = follow_speeds_[i] > 0.0 ? follow_speeds_[i] * axis_states_[i].lag : 0.0;
    const double bound = lag + kFollowNoise;
    if (!(behind > bound)) continue;
    printf("The <%d> axis has fallen %lf rad behind its goals, more than the %lf it may lag: the trajectory "
           "has been ended.\n",
           i + 1, behind, bound);
    return false;
  }
  return true;
}

void Interpolator::holdWhereItStands() {
  for (int i = 0; i < robot_para_.axis_num; ++i) robot_para_.axis_paras[i].motor->holdPosition();
}

bool Interpolator::awaitingReadings() {
  for (int i = 0; i < robot_para_.axis_num; ++i) {
    // A reading missed now and then comes back within a few passes; a servo
    // that stays unread goes offline and the move is refused as disabled.
    if (axis_states_[i].age != 0) return ++loop_.fresh_waits <= kFreshWaitPasses;
  }
  return false;
}

bool Interpolator::startFromReadings(AllAxisesJointPlanner* planner) {
  const int axes = robot_para_.axis_num;
  for (int i = 0; i < axes; ++i) {
    if (axis_states_[i].age != 0) {
      printf("The trajectory can not start: the <%d> axis has no current position reading.\n", i + 1);
      endCommand();
      return false;
    }
  }
  if (planner->planner_type_ != kPlannerTrapezoid ||
      planner->calAllJointsPostion(target_positions_, 0.0) == kSampleError) {
    return true;
  }
  // Planned from where the move before it ends, or from an older reading: it
  // must start where the arm stands now.
  int worst = -1;
  double worst_off = kRebaseTolerance;
  std::vector<double> measured(axes);
  for (int i = 0; i < axes; ++i) {
    measured[i] = axis_states_[i].pos;
    const double off = std::fabs(target_positions_[i] - measured[i]);
    if (!(off <= worst_off)) worst = i, worst_off = off;
  }
  if (worst >= 0) {
    printf("The <%d> axis was planned from %lf but stands at %lf: the move is planned again from "
           "the measured position.\n",
           worst + 1, target_positions_[worst], measured[worst]);
    planner->rebase(measured);
  }
  return true;
}

bool Interpolator::arrived() {
  const int axes = robot_para_.axis_num;
  auto atGoal = [this](int i) {
    const AxisState& axis = axis_states_[i];
    return std::fabs(axis.vel) <= kGoalRestVel && std::fabs(axis.pos - target_positions_[i]) <= kArrivedTolerance;
  };
  bool off = false, stale = false;
  for (int i = 0; i < axes; ++i) {
    off = off || !atGoal(i);
    stale = stale || axis_states_[i].age != 0;
  }
  if ((!off && !stale) || ++loop_.settle_passes <= kSettlePasses) return !off && !stale;
  // Names what keeps the move from arriving; a missed reading only when nothing else does.
  std::string away;
  for (int i = 0; i < axes; ++i) {
    const AxisState& axis = axis_states_[i];
    if (off ? atGoal(i) : axis.age == 0) continue;
    char part[128];
    snprintf(part, sizeof(part), "%s<%d> %lf rad from its goal at %lf rad/s%s", away.empty() ? "" : ", ", i + 1,
             axis.pos - target_positions_[i], axis.vel, axis.age != 0 ? " (no current reading)" : "");
    away += part;
  }
  printf("The trajectory has not arrived %.1lf s after its plan ended: %s.\n", kSettleTimeS, away.c_str());
  return false;
}

Interpolator::MoveCheck Interpolator::checkMove(AllAxisesJointPlanner* move,
                                                const std::vector<double>& start) const {
  const int axes = robot_para_.axis_num;
  MoveCheck check;
  std::vector<double> prev = start, next(static_cast<size_t>(axes));
  if (move == nullptr || start.size() < next.size()) return check.fault = MoveCheck::kNotSampled, check;
  // t accumulates as the loop's does, so that both take the very same samples.
  for (double t = 0.0;; t += period_) {
    const int r = move->calAllJointsPostion(next, t);
    if (r == kSampleError) return check.fault = MoveCheck::kNotSampled, check;
    for (int i = 0; i < axes; ++i) {
      const double vel = (next[i] - prev[i]) / period_;
      if (!isJointInRange(static_cast<size_t>(i), next[i])) {
        return MoveCheck{MoveCheck::kOverRange, i, t, next[i]};
      }
      if (!withinVelocityLimit(vel, robot_para_.axis_paras[i].max_vel)) {
        return MoveCheck{MoveCheck::kTooFast, i, t, vel};
      }
    }
    // From here on the plan holds its end positions.
    if (r == kSampleFinished) return check;
    prev.swap(next);
  }
}

void Interpolator::runMotorIo(MotorIoCmd* cmd, bool all_torque_off) {
  if (cmd->getKind() == kMotorIoHome) {
    // A servo holding torque keeps its goal through the calibration and then
    // runs to it in the new steps; one that cannot be read may hold torque.
    if (!all_torque_off) {
      puts("when set home, enable is ON error!");
      endCommand();
      return;
    }
    const int rc = cmd->seHome(kHomeTimeoutS);
    puts(rc == 0 ? "set home success!" : "set home failed!");
    endCommand();
    return;
  }

  printf("wait_peroid_num=%d;\n", loop_.wait_peroid_num);
  if (loop_.wait_peroid_num < kEnableSendPasses) {
    cmd->execute();
    ++loop_.wait_peroid_num;
    return;
  }
  if (cmd->isEnableDone()) {
    endCommand();
    return;
  }
  ++loop_.wait_peroid_num;
  if (loop_.wait_peroid_num * period_ * loop_.time_scale > kEnableTimeoutS * loop_.time_scale) {
    printf(" enable or disable cmd time out error!!!,wait_peroid_num=%d\n", loop_.wait_peroid_num);
    endCommand();
  }
}

void Interpolator::runGripper(SetIoCmd* cmd) {
  if (cmd->gripper_ == nullptr) {
    puts("The gripper command has no gripper and has been dropped.");
    endCommand();
    return;
  }
  if (loop_.gripper_polls == 0) {
    cmd->execute();
    std::this_thread::sleep_for(kGripperSettle);
  }
  ++loop_.gripper_polls;
  bool at_target = false;
  const int rc = cmd->getEnableStatus(&at_target);
  if (rc != 0) {
    printf("The gripper return error_code=<%d> when getEnableStatus.\n", rc);
    endCommand();
    return;
  }
  publishGripperCmdState(at_target);
  if (at_target) {
    puts("Gripper Task Finish.");
    endCommand();
  } else {
    puts("Gripper Task Continue.");
  }
}

void Interpolator::stopStep(std::atomic<uint32_t>* stop_flag) {
  const int axes = robot_para_.axis_num;
  if (isStopPlanned() == kStopNotPlanned) {
    for (int i = 0; i < axes; ++i) {
      AxisPlanState& state = plan_states_[i];
      // Without a sample of the command in hand the planned state is stale
      // (a finished move, a home): hold the measured position instead of
      // sending the arm back to it.
      if (loop_.sample_count == 0) {
        state = AxisPlanState{axis_states_[i].pos, 0.0, 0.0};
      }
      if (!std::isfinite(state.vel)) {
        state.vel = 0.0;
      }
    }
    planStop(plan_states_, axis_states_, period_);
    planStopBounds();
  } else {
    ++stop_step_index_;
    // The last step lands on exactly zero whatever the rounding on the way.
    const bool last = stop_step_index_ >= stop_steps_;
    for (int i = 0; i < axes; ++i) {
      AxisPlanState& state = plan_states_[i];
      const double ramp = last ? 0.0 : state.vel + stop_decel_[i] * period_;
      // Speeds are taken along the stopped motion, so none may go below 0.
      const double dir = stopDirection(stop_decel_[i]);
      // The ramp is gentler than max_acc, so near the goal it would run past
      // it: there the axis brakes at max_acc instead, as the plan itself does.
      const double room = dir * (stop_bound_[i] - state.pos);
      const double limit = brakingSpeedLimit(room, robot_para_.axis_paras[i].max_acc, period_);
      const double speed = std::max(std::min(dir * ramp, limit), 0.0);
      state.acc = (dir * speed - state.vel) / period_;
      state.vel = dir * speed;
      state.pos += state.vel * period_;
    }
    for (int i = 0; i < axes; ++i) {
      const AxisPara& axis = robot_para_.axis_paras[i];
      axis.motor->setMotorPosition(plan_states_[i].pos * axis.ratio);
    }
    if (last && isStopped() == kStopAtRest) {
      for (double& decel : stop_decel_) {
        decel = kNoStopPlanned;
      }
      stop_steps_ = 0;
      stop_step_index_ = 0;
      endStop(stop_flag);
    }
  }
  printf("\n");
}

void Interpolator::planStop(std::vector<AxisPlanState> plan_states,
                            std::vector<AxisState> axis_states, double period) {
  (void)axis_states;
  if (!(period > 0.0) || !std::isfinite(period)) {
    period = period_;
  }
  const size_t axes = std::min(plan_states.size(), stop_decel_.size());
  double longest = 0.0;
  for (size_t i = 0; i < axes; ++i) {
    const double vel = std::isfinite(plan_states[i].vel) ? plan_states[i].vel : 0.0;
    const double max_acc = robot_para_.axis_paras[i].max_acc;
    if (!(max_acc > 0.0) || !std::isfinite(max_acc)) {
      // No time to rest can be derived: the axis stops with the others.
      printf("The <%d> axis max_acc %lf is not usable for the stop.\n", static_cast<int>(i) + 1,
             max_acc);
      continue;
    }
    const double to_rest = std::fabs(vel / max_acc);
    if (to_rest > longest) {
      longest = to_rest;
    }
  }
  double whole_periods = std::floor(longest / period);
  if (!(whole_periods < static_cast<double>(INT_MAX - 1))) {
    whole_periods = static_cast<double>(INT_MAX - 1);
  }
  const int steps = static_cast<int>(whole_periods) + 1;
  printf("It take %d periods to stop.\n", steps);
  const double duration = steps * period;
  for (size_t i = 0; i < axes; ++i) {
    const double vel = std::isfinite(plan_states[i].vel) ? plan_states[i].vel : 0.0;
    stop_decel_[i] = -vel / duration;
  }
  stop_steps_ = steps;
  stop_step_index_ = 0;
}

void Interpolator::planStopBounds() {
  const int axes = robot_para_.axis_num;
  stop_bound_.assign(axes, kInf);
  auto* planner = loop_.sample_count > 0 ? dynamic_cast<AllAxisesJointPlanner*>(loop_.cmd) : nullptr;
  // Sampled past its end, a plan gives its goal. Only a trapezoid move never
  // passes its goal; a spline's path is not bounded by its last point.
  const bool has_goal = planner != nullptr && planner->planner_type_ == kPlannerTrapezoid &&
                        planner->calAllJointsPostion(stop_bound_, kInf) != kSampleError;
  for (int i = 0; i < axes; ++i) {
    const double pos = plan_states_[i].pos;
    const double dir = stopDirection(stop_decel_[i]);
    if (dir == 0.0) {
      stop_bound_[i] = pos;
      continue;
    }
    double bound = dir * kInf;
    if (kinematics_ != nullptr && i < kLimitedJoints) {
      bound = dir > 0.0 ? kinematics_->joint_max_[i] : kinematics_->joint_min_[i];
    }
    const double goal = has_goal ? stop_bound_[i] : kInf;
    // A goal behind the axis cannot be kept without turning back.
    if (std::isfinite(goal) && dir * (goal - pos) >= 0.0 && dir * (bound - goal) > 0.0) {
      bound = goal;
    }
    stop_bound_[i] = dir * (bound - pos) >= 0.0 ? bound : pos;
  }
}

int Interpolator::isStopPlanned() const {
  for (double decel : stop_decel_) {
    if (!(std::fabs(decel) < kNoStopPlanned)) {
      return kStopNotPlanned;
    }
  }
  return kStopPlanned;
}

int Interpolator::isStopped() const {
  for (const AxisPlanState& state : plan_states_) {
    if (!(std::fabs(state.vel) <= kStopRestVel)) {
      return kStopStillMoving;
    }
  }
  return kStopAtRest;
}
