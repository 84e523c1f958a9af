#include "all_axises_joint_planner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {
// Relative slack for rounding when a re-timed axis is compared with its limits.
constexpr double kLimitTolerance = 1e-9;
// The stretched cruise aims this far below the limit, so that the sampled
// velocities stay within it after rounding.
constexpr double kStretchMargin = 1e-9;
constexpr int kMaxStretchRounds = 100;

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

// How much the durations must grow for this axis to keep its limits when its
// velocity scales with 1/s and its accelerations with 1/s^2 (exact from rest).
double scaleNeeded(const TrapezoidPlanner& p) {
  const TrapezoidPlannerInput& in = p.plannerInput();
  const TrapezoidTiming& t = *p.timing();
  double s = 1.0;
  s = std::max(s, std::fabs(t.Vv) / in.vmax);
  s = std::max(s, std::sqrt(std::fabs(t.aa) / in.amax));
  s = std::max(s, std::sqrt(std::fabs(t.ad) / -in.amin));
  return s;
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

void AllAxisesJointPlanner::setTrajInterfaces(const std::vector<TrajectoryInterface*>& ptrs) {
  if (!listMatches(ptrs.size())) {
    puts("Input traj_interface_ptrs_ size not equal robot_para_.axis_num!!!");
    return;
  }
  if (std::find(ptrs.begin(), ptrs.end(), nullptr) != ptrs.end()) {
    puts("Input traj_interface_ptrs_ holds an empty planner!!!");
    return;
  }
  std::vector<TrajectoryInterface*> old;
  old.swap(traj_interface_ptrs_);
  traj_interface_ptrs_ = ptrs;
  releaseUnused(old);
  planned_ = false;
}

void AllAxisesJointPlanner::setCubicSplines(const std::vector<CubicPlanner*>& ptrs) {
  if (!listMatches(ptrs.size())) {
    puts("Input cubicSpline_ptrs size not equal robot_para_.axis_num!!!");
    return;
  }
  if (std::find(ptrs.begin(), ptrs.end(), nullptr) != ptrs.end()) {
    puts("Input cubicSpline_ptrs holds an empty planner!!!");
    return;
  }
  std::vector<TrajectoryInterface*> old(cubicSpline_ptrs.begin(), cubicSpline_ptrs.end());
  cubicSpline_ptrs = ptrs;
  releaseUnused(old);
  planned_ = false;
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
  planned_ = rc == 0;
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
  return syncToSlowest(motion_times);
}

int AllAxisesJointPlanner::syncToSlowest(const std::vector<double>& motion_times) {
  double longest = 0.0;
  int slowest = -1;
  for (size_t i = 0; i < motion_times.size(); ++i) {
    printf("traject_motion_time:%lf\n", motion_times[i]);
    if (longest < motion_times[i]) {
      longest = motion_times[i];
      slowest = static_cast<int>(i);
    }
  }
  if (slowest < 0) {
    // Every axis is already at its goal: nothing to share.
    puts("All axises plan suceess.");
    return 0;
  }
  const TrapezoidTiming* ref = traj_interface_ptrs_[slowest]->timing();
  if (ref == nullptr) {
    printf("The %d axis has no timing to share.\n", slowest + 1);
    return -1;
  }
  // A copy: the slowest axis itself may be re-timed when stretching.
  const TrapezoidTiming reference = *ref;
  int rc = rePlanAll(reference, slowest);
  if (rc != 0) return rc;
  if (!withinLimits()) {
    rc = stretchToLimits(reference);
    if (rc != 0) return rc;
  }
  puts("All axises replan suceess.");
  return 0;
}

int AllAxisesJointPlanner::rePlanAll(const TrapezoidTiming& timing, int skip) {
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    if (i == skip) continue;
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

int AllAxisesJointPlanner::stretchToLimits(const TrapezoidTiming& reference) {
  // First lengthen the cruise: with the ramps kept, each axis's cruise
  // velocity is N / span and the ramps' accelerations follow it, so the
  // smallest span that keeps every axis within its limits is found directly.
  TrapezoidTiming t = reference;
  double span = 2.0 * t.Tv + t.Ta + t.Td;
  bool cruise_suffices = true;
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    const TrapezoidPlanner* p = asTrapezoid(traj_interface_ptrs_[i]);
    if (p == nullptr) continue;
    const TrapezoidPlannerInput& in = p->plannerInput();
    const double N = 2.0 * (in.q1 - in.q0) - (in.v0 * t.Ta + in.v1 * t.Td);
    const double lo = std::max({-in.vmax, in.v0 - in.amax * t.Ta, in.v1 + in.amin * t.Td});
    const double hi = std::min({in.vmax, in.v0 + in.amax * t.Ta, in.v1 - in.amin * t.Td});
    if (!(lo <= 0.0 && hi >= 0.0)) {
      cruise_suffices = false;
      continue;
    }
    const double bound = (N > 0.0 ? hi : -lo) * (1.0 - kStretchMargin);
    if (N == 0.0) continue;
    if (!(bound > 0.0)) {
      cruise_suffices = false;
      continue;
    }
    span = std::max(span, std::fabs(N) / bound);
  }
  if (cruise_suffices) {
    t.Tv = std::max(t.Tv, (span - t.Ta - t.Td) / 2.0);
    t.Tall = t.Ta + t.Tv + t.Td;
    printf("Stretch the common timing to Tall=%lf to keep every axis within its limits.\n", t.Tall);
    int rc = rePlanAll(t, -1);
    if (rc != 0) return rc;
  }
  // Moving start or end velocities may still break a limit: scale every
  // duration until none does.
  for (int round = 0; round < kMaxStretchRounds && !withinLimits(); ++round) {
    double s = 1.0;
    for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
      const TrapezoidPlanner* p = asTrapezoid(traj_interface_ptrs_[i]);
      if (p != nullptr) s = std::max(s, scaleNeeded(*p));
    }
    s *= 1.0 + 1e-6;
    t.Ta *= s;
    t.Tv *= s;
    t.Td *= s;
    t.Tall = t.Ta + t.Tv + t.Td;
    printf("Stretch the common timing to Tall=%lf to keep every axis within its limits.\n", t.Tall);
    int rc = rePlanAll(t, -1);
    if (rc != 0) return rc;
  }
  if (!withinLimits()) {
    puts("No common timing keeps every axis within its limits.");
    return -1;
  }
  return 0;
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
  if (!trapezoid && planner_type_ != kPlannerCubic) return 1;
  const size_t listed = trapezoid ? traj_interface_ptrs_.size() : cubicSpline_ptrs.size();
  if (listed == 0) {
    puts("It does not have a trajectory_interface when cal joint pos");
    return -1;
  }
  if (!planned_ || !listMatches(listed)) {
    puts("The joint plan did not succeed, the command is not executed.");
    return -1;
  }
  if (positions.size() < listed) {
    printf("The positions hold %zu values for %d axes.\n", positions.size(), robot_para_.axis_num);
    return -1;
  }
  for (int32_t i = 0; i < robot_para_.axis_num; ++i) {
    int finished = 0;
    const TrajectoryInterface* p =
        trapezoid ? traj_interface_ptrs_[i] : static_cast<TrajectoryInterface*>(cubicSpline_ptrs[i]);
    positions[i] = p->position(&finished, t);
    all *= finished;
  }
  return all == 1 ? 1 : 0;
}
