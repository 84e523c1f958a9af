#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "motion/commands/abstract_cmd_interface.h"
#include "motion/planning/cubic_planner.h"
#include "motion/commands/robot_para.h"
#include "motion/planning/trajectory_interface.h"
#include "motion/planning/trapezoid_planner.h"

constexpr int32_t kPlannerTrapezoid = 0;
constexpr int32_t kPlannerCubic = 1;

// The trajectory command: one planner per axis. It owns every planner handed
// to it by setTrajInterfaces or setCubicSplines and deletes them; a refused
// list stays with the caller.
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
  // Deletes the planners of old that are in neither list.
  void releaseUnused(const std::vector<TrajectoryInterface*>& old);

  bool planned_ = false;
};
