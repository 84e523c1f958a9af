#include "motion/commands/all_axises_joint_planner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {
// Relative slack for rounding when a re-timed axis is compared with its limits.
constexpr double kLimitTolerance = 1e-9;

const TrapezoidPlanner* asTrapezoid(const TrajectoryInterface* p) {
  return dynamic_cast<const TrapezoidPlanner*>(p);
}

bool axisWithinLimits(const TrapezoidPlanner& p) {
  const TrapezoidPlannerInput& in = p.plannerInput();
  const TrapezoidTiming& t = *p.timing();
  const double slack = 1.0 + kLimitTolerance;
  return std::fabs(t.Vv) <= in.vmax * slack && std::fabs(t.aa) <= in.amax * slack &&
         std::fabs(t.ad) <= -in.amin * slack;
}

}  // namespace

AllAxisesJointPlanner::AllAxisesJointPlanner() { cmd_type = kCmdTypeTrajectory; }

AllAxisesJointPlanner::~AllAxisesJointPlanner() {
  std::vector<TrajectoryInterface*> all(traj_interface_ptrs_.begin(), traj_interface_ptrs_.end());
  all.insert(all.end(), cubicSpline_ptrs.begin(), cubicSpline_ptrs.end());
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  for (TrajectoryInterface* p : all) delete p;
}

void AllAxisesJointPlanner::releaseUnused(const std::vector<TrajectoryInterface*>& old) {
  std::vector<TrajectoryInterface*> gone(old);
  std::sort(gone.begin(), gone.end());
  gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
  for (TrajectoryInterface* p : gone) {
    bool kept = std::find(traj_interface_ptrs_.begin(), traj_interface_ptrs_.end(), p) !=
                    traj_interface_ptrs_.end() ||
                std::find(cubicSpline_ptrs.begin(), cubicSpline_ptrs.end(), p) !=
                    cubicSpline_ptrs.end();
    if (!kept) delete p;
  }
}

int AllAxisesJointPlanner::setPlannerType(int32_t type) {
  planner_type_ = type;
  planned_ = false;
  return 0;
}

void AllAxisesJointPlanner::setRobotPara(const RobotPara& para) {
  robot_para_ = para;
  planned_ = false;
}

bool AllAxisesJointPlanner::listMatches(size_t size) const {
  return robot_para_.axis_num >= 0 && size == static_cast<size_t>(robot_para_.axis_num);
}

template <typename T>
bool AllAxisesJointPlanner::takeList(std::vector<T*>* list, const std::vector<T*>& ptrs, const char* name) {
  if (!listMatches(ptrs.size())) {
    printf("Input %s size not equal robot_para_.axis_num!!!\n", name);
    return false;
  }
  if (std::find(ptrs.begin(), ptrs.end(), nullptr) != ptrs.end()) {
    printf("Input %s holds an empty planner!!!\n", name);
    return false;
  }
  const std::vector<TrajectoryInterface*> old(list->begin(), list->end());
  *list = ptrs;
  releaseUnused(old);
  planned_ = false;
  return true;
}

void AllAxisesJointPlanner::setTrajInterfaces(const std::vector<TrajectoryInterface*>& ptrs) {
  takeList(&traj_interface_ptrs_, ptrs, "traj_interface_ptrs_");
}

void AllAxisesJointPlanner::setCubicSplines(const std::vector<CubicPlanner*>& ptrs) {
  takeList(&cubicSpline_ptrs, ptrs, "cubicSpline_ptrs");
}

namespace {
template <typename T>
std::vector<T*> rawList(const std::vector<std::unique_ptr<T>>& owned) {
  std::vector<T*> raw;
  raw.reserve(owned.size());
  for (const auto& p : owned) raw.push_back(p.get());
  return raw;
}

template <typename T>
void releaseAll(std::vector<std::unique_ptr<T>>* owned) {
  for (auto& p : *owned) (void)p.release();
}
}  // namespace

bool AllAxisesJointPlanner::adoptTrajInterfaces(std::vector<std::unique_ptr<TrajectoryInterface>> ptrs) {
  const bool taken = takeList(&traj_interface_ptrs_, rawList(ptrs), "traj_interface_ptrs_");
  if (taken) releaseAll(&ptrs);
  return taken;
}

bool AllAxisesJointPlanner::adoptCubicSplines(std::vector<std::unique_ptr<CubicPlanner>> ptrs) {
  const bool taken = takeList(&cubicSpline_ptrs, rawList(ptrs), "cubicSpline_ptrs");
  if (taken) releaseAll(&ptrs);
  return taken;
}

int AllAxisesJointPlanner::setInput(int32_t idx, const TrapezoidPlannerInput* input) {
  if (idx < 0 || idx >= robot_para_.axis_num) {
    printf("idx=%d over the max axis number.\n", idx);
    return -1;
  }
  if (planner_type_ != kPlannerTrapezoid || input == nullptr ||
      !listMatches(traj_interface_ptrs_.size())) {
    printf("The %d axis has no trapezoid planner for this input.\n", idx + 1);
    return -1;
  }
  TrajectoryInterface* p = traj_interface_ptrs_[idx];
  // The record is only meaningful to a trapezoid planner.
  if (asTrapezoid(p) == nullptr) {
    printf("The %d axis has no trapezoid planner for this input.\n", idx + 1);
    return -1;
  }
  p->setInput(input);
  planned_ = false;
  return 0;
}

int AllAxisesJointPlanner::setInput(int32_t idx, const CubicPlannerInput* input) {
  if (idx < 0 || idx >= robot_para_.axis_num) {
    printf("idx=%d over the max axis number.\n", idx);
    return -1;
  }
  if (planner_type_ != kPlannerCubic || input == nullptr || !listMatches(cubicSpline_ptrs.size())) {
    printf("The %d axis has no cubic planner for this input.\n", idx + 1);
    return -1;
  }
  planned_ = false;
  return cubicSpline_ptrs[idx]->setInput(input) != nullptr ? 0 : -1;
}

int AllAxisesJointPlanner::plan() {
  planned_ = false;
  int rc = 0;
  if (planner_type_ == kPlannerTrapezoid) {
    rc = planTrapezoid();
  } else if (planner_type_ == kPlannerCubic) {
    rc = planCubic();
  }
  planned_ = rc == kPlanOk;
  return rc;
}

int AllAxisesJointPlanner::planTrapezoid() {
  if (traj_interface_ptrs_.empty()) {
    puts("It does not have a trajectory_interface when joint plan");
    return -1;
  }
  if (!listMatches(traj_interface_ptrs_.size())) {
    puts("Input traj_interface_ptrs_ size not equal robot_para_.axis_num!!!");
    return -1;
  }
  std::vector<double> motion_times;
  motion_times.reserve(traj_interface_ptrs_.size());
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    int rc = traj_interface_ptrs_[i]->plan();
    const double m = traj_interface_ptrs_[i]->motionTime();
    if (rc == 0 && !(m >= 0.0 && std::isfinite(m))) rc = -1;
    if (rc != 0) {
      printf("The %d axis plan fail!!! ,error code =%d\n", i + 1, rc);
      return rc;
    }
    printf("motion_time=%lf\n", m);
    motion_times.push_back(m);
  }
  if (traj_interface_ptrs_[0]->isSync() == 0) {
    puts("All axises plan suceess.");
    return 0;
  }
  return syncTiming(motion_times);
}

int AllAxisesJointPlanner::syncTiming(const std::vector<double>& motion_times) {
  double longest = 0.0;
  for (double m : motion_times) {
    printf("traject_motion_time:%lf\n", m);
    longest = std::max(longest, m);
  }
  if (longest == 0.0) {
    // Every axis is already at its goal: nothing to share.
    puts("All axises plan suceess.");
    return 0;
  }
  // Every axis, the slowest one too, takes the shortest timing that keeps
  // all of them within their own limits: the slowest axis's own ramps could
  // force the others far below theirs.
  std::vector<TrapezoidPlannerInput> inputs;
  for (const TrajectoryInterface* p : traj_interface_ptrs_) {
    // Another kind of planner carries no limits to respect.
    if (const TrapezoidPlanner* tp = asTrapezoid(p)) inputs.push_back(tp->plannerInput());
  }
  TrapezoidTiming common;
  const bool found = TrapezoidPlanner::fastestCommonTiming(inputs, &common);
  if (found) {
    const int rc = rePlanAll(common);
    if (rc != 0) return rc;
  }
  if (!found || !withinLimits()) {
    puts("No common timing keeps every axis within its limits.");
    return -1;
  }
  puts("All axises replan suceess.");
  return 0;
}

int AllAxisesJointPlanner::rePlanAll(const TrapezoidTiming& timing) {
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    int rc = traj_interface_ptrs_[i]->rePlan(timing);
    if (rc != 0) {
      printf("The %d axis rePlan fail!!! ,error code =%d\n", i + 1, rc);
      return rc;
    }
  }
  return 0;
}

bool AllAxisesJointPlanner::withinLimits() const {
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    const TrapezoidPlanner* p = asTrapezoid(traj_interface_ptrs_[i]);
    // Another kind of planner carries no limits that could be checked here.
    if (p != nullptr && !axisWithinLimits(*p)) return false;
  }
  return true;
}

int AllAxisesJointPlanner::planCubic() {
  if (cubicSpline_ptrs.empty()) {
    puts("It does not have a trajectory_interface when joint plan");
    return -1;
  }
  if (!listMatches(cubicSpline_ptrs.size())) {
    puts("Input cubicSpline_ptrs size not equal robot_para_.axis_num!!!");
    return -1;
  }
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    int rc = cubicSpline_ptrs[i]->plan();
    if (rc != 0) {
      printf("The %d axis plan fail!!! ,error code =%d\n", i + 1, rc);
      return rc;
    }
  }
  puts("All axises plan suceess.");
  return 0;
}

int AllAxisesJointPlanner::calAllJointsPostion(std::vector<double>& positions, double t) {
  return calJointsPostion(positions, t);
}

int AllAxisesJointPlanner::rebase(const std::vector<double>& start) {
  if (planner_type_ != kPlannerTrapezoid || !listMatches(traj_interface_ptrs_.size()) ||
      start.size() < traj_interface_ptrs_.size()) {
    return -1;
  }
  for (size_t i = 0; i < traj_interface_ptrs_.size(); ++i) {
    const TrapezoidPlanner* p = asTrapezoid(traj_interface_ptrs_[i]);
    if (p == nullptr) return -1;
    TrapezoidPlannerInput input = p->plannerInput();
    input.q0 = start[i];
    traj_interface_ptrs_[i]->setInput(&input);
  }
  return plan();
}

bool AllAxisesJointPlanner::endPositions(std::vector<double>* ends) const {
  const bool trapezoid = planner_type_ == kPlannerTrapezoid;
  const size_t listed = trapezoid ? traj_interface_ptrs_.size() : cubicSpline_ptrs.size();
  if (!planned_ || (!trapezoid && planner_type_ != kPlannerCubic) || !listMatches(listed)) {
    return false;
  }
  std::vector<double> out(listed);
  for (size_t i = 0; i < listed; ++i) {
    const TrajectoryInterface* p =
        trapezoid ? traj_interface_ptrs_[i] : static_cast<TrajectoryInterface*>(cubicSpline_ptrs[i]);
    int finished = 0;
    out[i] = p->position(&finished, std::numeric_limits<double>::infinity());
    if (!std::isfinite(out[i])) return false;
  }
  ends->swap(out);
  return true;
}

int AllAxisesJointPlanner::calJointsPostion(std::vector<double>& positions, double t) {
  int all = 1;
  const bool trapezoid = planner_type_ == kPlannerTrapezoid;
  if (!trapezoid && planner_type_ != kPlannerCubic) return kSampleFinished;
  const size_t listed = trapezoid ? traj_interface_ptrs_.size() : cubicSpline_ptrs.size();
  if (listed == 0) {
    puts("It does not have a trajectory_interface when cal joint pos");
    return kSampleError;
  }
  if (!planned_ || !listMatches(listed)) {
    puts("The joint plan did not succeed, the command is not executed.");
    return kSampleError;
  }
  if (positions.size() < listed) {
    printf("The positions hold %zu values for %d axes.\n", positions.size(), robot_para_.axis_num);
    return kSampleError;
  }
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    int finished = 0;
    const TrajectoryInterface* p =
        trapezoid ? traj_interface_ptrs_[i] : static_cast<TrajectoryInterface*>(cubicSpline_ptrs[i]);
    positions[i] = p->position(&finished, t);
    all *= finished;
  }
  return all == 1 ? kSampleFinished : kSampleMoving;
}
