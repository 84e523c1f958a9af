#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "motion/commands/abstract_cmd_interface.h"
#include "motion/planning/cubic_planner.h"
#include "motion/commands/robot_para.h"
#include "motion/planning/trajectory_interface.h"
#include "motion/planning/trapezoid_planner.h"

constexpr int32_t kPlannerTrapezoid = 0;
constexpr int32_t kPlannerCubic = 1;

// Results of AllAxisesJointPlanner::calAllJointsPostion, kept as int.
constexpr int kSampleError = -1;    // no planners, a plan that did not succeed, too short a vector
constexpr int kSampleMoving = 0;    // some axis has not finished
constexpr int kSampleFinished = 1;  // every axis reports finished
// AllAxisesJointPlanner::plan succeeded; any other value is a failing axis's code.
constexpr int kPlanOk = 0;

// The trajectory command: one planner per axis. It owns every planner handed
// to it by setTrajInterfaces or setCubicSplines and deletes them. A list of
// raw pointers that it refuses stays with the caller; the adopt forms
// always take the list and say whether it was accepted (a refused one is freed).
class AllAxisesJointPlanner : public AbstractCmdInterface {
 public:
  AllAxisesJointPlanner();
  ~AllAxisesJointPlanner() override;
  AllAxisesJointPlanner(const AllAxisesJointPlanner&) = delete;
  AllAxisesJointPlanner& operator=(const AllAxisesJointPlanner&) = delete;

  int setPlannerType(int32_t type);
  // Give the set before the planner lists: their size is checked against it.
  void setRobotPara(const RobotPara& para);
  void setTrajInterfaces(const std::vector<TrajectoryInterface*>& ptrs);
  void setCubicSplines(const std::vector<CubicPlanner*>& ptrs);
  bool adoptTrajInterfaces(std::vector<std::unique_ptr<TrajectoryInterface>> ptrs);
  bool adoptCubicSplines(std::vector<std::unique_ptr<CubicPlanner>> ptrs);
  // The record must match the planner type; -1 otherwise or for a bad idx.
  int setInput(int32_t idx, const TrapezoidPlannerInput* input);
  int setInput(int32_t idx, const CubicPlannerInput* input);
  int plan();
  // positions needs at least axis_num entries. -1 on error, including a
  // command whose plan did not succeed; 1 once every axis is finished.
  int calAllJointsPostion(std::vector<double>& positions, double t);
  // Where every axis is left once the move has run: each planner sampled
  // past its end. False, with ends untouched, for a move the loop would not run.
  bool endPositions(std::vector<double>* ends) const;
  // A trapezoid move planned anew from start[i] on every axis, to the same
  // targets with the same limits: plan's result, or -1 for a move of another
  // kind or too short a start.
  int rebase(const std::vector<double>& start);

  std::vector<TrajectoryInterface*> traj_interface_ptrs_;
  std::vector<CubicPlanner*> cubicSpline_ptrs;
  RobotPara robot_para_;
  int32_t planner_type_ = kPlannerTrapezoid;

 private:
  int calJointsPostion(std::vector<double>& positions, double t);
  int planTrapezoid();
  int planCubic();
  // Re-times every axis to the shortest timing they can all keep.
  int syncTiming(const std::vector<double>& motion_times);
  // Re-times every axis; the first failure's code.
  int rePlanAll(const TrapezoidTiming& timing);
  // Whether every trapezoid axis keeps its own vmax, amax and amin.
  bool withinLimits() const;
  bool listMatches(std::size_t size) const;
  // The list checks and the hand-over of ptrs into *list (named name in the
  // lines it prints); true when the list was taken.
  template <typename T>
  bool takeList(std::vector<T*>* list, const std::vector<T*>& ptrs, const char* name);
  // Deletes the planners of old that are in neither list.
  void releaseUnused(const std::vector<TrajectoryInterface*>& old);

  bool planned_ = false;
};
