#include "motion/loop/interpolator.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "motion/commands/abstract_cmd_interface.h"
#include "motion/commands/all_axises_joint_planner.h"
#include "Collision/collision_detector_at.h"
#include "motion/commands/motor_io_cmd.h"
#include "Collision/motor_state.h"
#include "motion/commands/set_io_cmd.h"

double Interpolator::systemSeconds() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<double>(ms.count()) / 1000.0;
}

Interpolator::Interpolator(RobotPara robot_para, ArmKinematics* kinematics)
    : motor_state_node_(new motor_state()), collision_detector_(new CollisionDetector_AT()) {
  robot_para_ = robot_para;
  period_ = 0.005;
  period_us_ = period_ * 1000 * 1000;

  const size_t n = static_cast<size_t>(std::max(robot_para_.axis_num, 0));
  if (robot_para_.axis_paras.size() < n) {
    printf("The robot para holds %zu axes but claims %d; only the held axes are used.\n",
           robot_para_.axis_paras.size(), robot_para_.axis_num);
    robot_para_.axis_num = static_cast<int32_t>(robot_para_.axis_paras.size());
  }
  const size_t axes = static_cast<size_t>(std::max(robot_para_.axis_num, 0));

  target_positions_.resize(axes);
  collision_result_ = 0;
  abnormal_flag = false;
  stop_flag_ = 0;

  plan_states_.resize(axes);
  axis_states_.resize(axes);
  prev_plan_states_.resize(axes);
  stop_decel_.resize(axes);
  candidate_states_.resize(axes);
  follow_speeds_.resize(axes);
  for (size_t i = 0; i < axes; ++i) {
    prev_plan_states_[i] = plan_states_[i];
    stop_decel_[i] = kNoStopPlanned;
  }
  // The loop appends one value per axis each pass; no allocation after this.
  torques_.reserve(axes);
  positions_.reserve(axes);
  velocities_.reserve(axes);

  motor_io_cmd_ = std::make_unique<MotorIoCmd>();
  motor_io_cmd_->setRobotPara(robot_para_);

  enable_state_ = false;
  set_io_cmd_ = std::make_unique<SetIoCmd>();
  kinematics_ = kinematics;
  puts("Creat objective interpolator.");
}

// The command in hand is still the queue's front, so the queue frees it too.
Interpolator::~Interpolator() = default;

void Interpolator::insertCmd(AbstractCmdInterface* cmd) {
  insertCmd(std::unique_ptr<AbstractCmdInterface>(cmd));
}

std::unique_lock<std::mutex> Interpolator::producerTurn() {
  return std::unique_lock<std::mutex>(producer_mutex_);
}

void Interpolator::insertCmd(std::unique_ptr<AbstractCmdInterface> cmd) {
  puts("插入一条指令");
  if (cmd == nullptr) {
    puts("An empty command is not queued.");
    return;
  }
  std::vector<double> end;
  bool records_end = false;
  if (cmd->cmd_type == kCmdTypeTrajectory) {
    // A move the loop will not run leaves the arm where the one before it does.
    if (auto* move = dynamic_cast<AllAxisesJointPlanner*>(cmd.get())) records_end = move->endPositions(&end);
  } else if (cmd->cmd_type == kCmdTypeMotorIo) {
    // Homing makes the present position read as the middle, 0 rad, on every
    // axis; enable and disable leave the arm where it is.
    auto* io = dynamic_cast<MotorIoCmd*>(cmd.get());
    if (io != nullptr && io->getKind() == kMotorIoHome) {
      end.assign(static_cast<size_t>(std::max(robot_para_.axis_num, 0)), 0.0);
      records_end = true;
    }
  }
  std::lock_guard<std::mutex> lock(queue_mutex_);
  cmd_queue_.push_back(std::move(cmd));
  if (records_end) queued_end_.swap(end);
}

RobotPara Interpolator::getRobotPara() const { return robot_para_; }

std::vector<AxisState> Interpolator::getAxisStates() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return axis_states_;
}

std::vector<double> Interpolator::getNextMoveStart() const {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (!queued_end_.empty()) return queued_end_;
  }
  std::vector<double> start;
  std::lock_guard<std::mutex> lock(state_mutex_);
  for (const AxisState& state : axis_states_) start.push_back(state.pos);
  return start;
}

std::vector<double> Interpolator::extractJoints(const std::vector<double>& flat, int rows,
                                                int stride) const {
  constexpr int kJointsPerRow = 6;
  std::vector<double> joints;
  if (rows <= 0) {
    return joints;
  }
  const long long needed = static_cast<long long>(rows - 1) * stride + kJointsPerRow;
  if (stride < 0 || needed > static_cast<long long>(flat.size())) {
    printf("extractJoints: %zu values cannot hold %d rows of stride %d.\n", flat.size(), rows,
           stride);
    return joints;
  }
  joints.reserve(static_cast<size_t>(rows) * kJointsPerRow);
  for (int r = 0; r < rows; ++r) {
    const size_t start = static_cast<size_t>(r) * static_cast<size_t>(stride);
    joints.insert(joints.end(), flat.begin() + static_cast<std::ptrdiff_t>(start),
                  flat.begin() + static_cast<std::ptrdiff_t>(start + kJointsPerRow));
  }
  return joints;
}

bool Interpolator::isJointInRange(std::size_t i, double v) const {
  return kinematics_ != nullptr && kinematics_->isJointInRange(i, v);
}

int Interpolator::getJointPositions(std::vector<double>* positions) const {
  positions->clear();
  std::vector<double> copy;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    copy = positions_;
  }
  positions->insert(positions->end(), copy.begin(), copy.end());
  return 0;
}

int Interpolator::getPose(std::vector<double>* pose) const {
  pose->clear();
  std::lock_guard<std::mutex> lock(pose_mutex_);
  pose->push_back(pose_.x);
  pose->push_back(pose_.y);
  pose->push_back(pose_.z);
  pose->push_back(pose_.roll);
  pose->push_back(pose_.pitch);
  pose->push_back(pose_.yaw);
  return 0;
}

int Interpolator::getEnableState(bool* enabled) const {
  std::lock_guard<std::mutex> lock(enable_mutex_);
  *enabled = enable_state_;
  return 0;
}

int Interpolator::getAllTorqueOff(bool* all_off) const {
  std::lock_guard<std::mutex> lock(enable_mutex_);
  *all_off = all_torque_off_;
  return 0;
}

void Interpolator::setGripSignal(bool value) {
  std::lock_guard<std::mutex> lock(grip_mutex_);
  grip_signal_ = value;
}

void Interpolator::getGripSignal(bool* value) const {
  std::lock_guard<std::mutex> lock(grip_mutex_);
  *value = grip_signal_;
}

int Interpolator::setAbnormalFlag(bool value) {
  // A recover must also forget the collision, or the loop would stop every
  // later command on the old result.
  if (!value) collision_result_ = 0;
  abnormal_flag = value;
  return kAbnormalFlagStored;
}

void Interpolator::stop() {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  // The stop cancels what is queued now, the command in hand at the front;
  // what is queued after runs once it has ended. With an empty queue there
  // is nothing to stop, and no flag is left for the next command.
  stop_drops_ = cmd_queue_.size();
  if (stop_drops_ > 0) {
    stop_flag_ = 1;
    // None of them will run: a move queued now starts from the measured position.
    queued_end_.clear();
  }
}

int Interpolator::readMotorStates() {
  dt_ = systemSeconds() - loop_start_time_;

  bool all_on = false;
  bool all_off = false;
  motor_io_cmd_->getEnableStatus(&all_on, &all_off);
  {
    std::lock_guard<std::mutex> lock(enable_mutex_);
    enable_state_ = all_on;
    all_torque_off_ = all_off;
  }

  // Position, velocity and torque of a pass are stored under one lock so
  // getAxisStates never mixes two passes.
  std::lock_guard<std::mutex> lock(state_mutex_);
  torques_.clear();
  positions_.clear();
  velocities_.clear();
  // In this order; the first failure ends the reading of this pass.
  if (readAxes(&CtrlMotorInterface::getMotorPosition, "getMotorPosition", &AxisState::pos, &positions_) &&
      readAxes(&CtrlMotorInterface::getVelocity, "getVelocity", &AxisState::vel, &velocities_) &&
      readAxes(&CtrlMotorInterface::getTorque, "getTorque", &AxisState::torque, &torques_)) {
    for (int i = 0; i < robot_para_.axis_num; ++i) {
      AxisState& state = axis_states_[i];
      CtrlMotorInterface* motor = robot_para_.axis_paras[i].motor;
      if (motor->getReadingAge(&state.age) != 0) state.age = UINT32_MAX;
      if (motor->getReadingLag(&state.lag) != 0) state.lag = std::numeric_limits<double>::infinity();
    }
    return kMotorReadOk;
  }
  return kMotorReadFailed;
}

bool Interpolator::readAxes(int (CtrlMotorInterface::*read)(double*), const char* name,
                            double AxisState::*field, std::vector<double>* values) {
  for (int i = 0; i < robot_para_.axis_num; ++i) {
    const AxisPara& axis = robot_para_.axis_paras[i];
    double value = 0.0;
    const int rc = axis.motor != nullptr ? (axis.motor->*read)(&value) : -1;
    if (rc != 0) {
      printf("When %s has an error,errorcode=<%d>.\n", name, rc);
      return false;
    }
    // Joint values are motor values divided by the ratio; torque is the other way round.
    axis_states_[i].*field = field == &AxisState::torque ? value * axis.ratio : value / axis.ratio;
    values->push_back(axis_states_[i].*field);
  }
  return true;
}

void Interpolator::updatePose() {
  JointVec6f joints;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    const size_t n =
        std::min<size_t>({positions_.size(), static_cast<size_t>(robot_para_.axis_num), 6});
    for (size_t i = 0; i < n; ++i) {
      joints[i] = static_cast<float>(positions_[i]);
    }
  }
  fk_joints_ = joints;
  if (kinematics_ == nullptr) {
    return;
  }
  std::lock_guard<std::mutex> lock(pose_mutex_);
  kinematics_->forwardPose(fk_joints_, pose_);
}

void Interpolator::publishMotorState(bool value) { motor_state_node_->publishMotorState(&value); }

void Interpolator::publishGripperCmdState(bool value) {
  motor_state_node_->publishGripperCmdState(&value);
}

void Interpolator::publishSystemState(bool value) { motor_state_node_->publishSystemState(&value); }

void Interpolator::checkCollision() {
  std::vector<double> torques;
  std::vector<double> positions;
  std::vector<double> velocities;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    torques = torques_;
    positions = positions_;
    velocities = velocities_;
  }
  const int result =
      collision_detector_->detect(torques, positions, velocities, false, true, false, dt_);
  collision_result_ = result;
  if (result == kCollisionFound) {
    abnormal_flag = true;
  }
}

void Interpolator::testRaiseCollision() {
  collision_result_ = kCollisionFound;
  abnormal_flag = true;
}

Interpolator::TestView Interpolator::testView() const {
  TestView view;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    view.queued = cmd_queue_.size();
    view.stop_flag = stop_flag_;
  }
  view.plan_states = plan_states_;
  return view;
}

void Interpolator::calcPlanState(const std::vector<AxisPlanState>& prev,
                                 std::vector<AxisPlanState>& cur, double period) const {
  const size_t n = std::min(prev.size(), cur.size());
  for (size_t i = 0; i < n; ++i) {
    cur[i].vel = (cur[i].pos - prev[i].pos) / period;
    cur[i].acc = (cur[i].vel - prev[i].vel) / period;
  }
}
