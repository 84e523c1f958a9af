#pragma once

#include <vector>

#include "motion/planning/cubic_spline.h"
#include "motion/planning/trajectory_interface.h"

struct CubicPlannerInput {
  std::vector<double> positions;
  std::vector<double> times;  // strictly increasing, same count as positions
};

// One axis through timed points on a clamped spline, at rest at both ends.
class CubicPlanner : public TrajectoryInterface {
 public:
  CubicPlanner();
  ~CubicPlanner() override;

  // -1 when the points cannot make a spline (see CubicSpline::setPoints).
  int plan() override;
  double position(int* finished, double t) const override;
  // Takes a CubicPlannerInput.
  void* setInput(const void* input) override;
  void* input() override;
  int rePlan(const TrapezoidTiming& timing) override;
  double motionTime() const override { return motion_time_; }
  const TrapezoidTiming* timing() const override { return nullptr; }

  const CubicSpline& spline() const { return spline_; }

 private:
  CubicPlannerInput input_;
  double motion_time_ = 0.0;
  CubicSpline spline_;
};
