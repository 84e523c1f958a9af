#pragma once

#include <cstdint>
#include <vector>

#include "motion/planning/trajectory_interface.h"
#include "motion/planning/trapezoid_timing.h"

struct TrapezoidPlannerInput {
  double reserved = 0.0;  // never read
  double q0 = 0.0;
  double q1 = 0.0;
  double v0 = 0.0;
  double v1 = 0.0;
  double vmax = 0.0;  // > 0
  double amax = 0.0;  // > 0
  double amin = 0.0;  // < 0
};

// Results of TrapezoidPlanner::plan.
constexpr int kTrapezoidOk = 0;
constexpr int kTrapezoidOverVmax = -1;
constexpr int kTrapezoidTooClose = -2;
constexpr int kTrapezoidBadInput = -3;

// Trapezoidal velocity profile of one axis (a triangle when vmax cannot be
// reached over the distance).
class TrapezoidPlanner : public TrajectoryInterface {
 public:
  TrapezoidPlanner();
  explicit TrapezoidPlanner(uint32_t sync);
  ~TrapezoidPlanner() override {}

  int plan() override;
  // Before a successful plan the axis stays at q0 and is never finished.
  double position(int* finished, double t) const override;
  // Takes a TrapezoidPlannerInput.
  void* setInput(const void* input) override;
  void* input() override;
  // Moves the own distance in the given segment durations; -1 when they
  // cannot carry a motion (not finite, or an empty ramp that must change speed).
  int rePlan(const TrapezoidTiming& timing) override;
  double motionTime() const override { return timing_.Tall; }
  const TrapezoidTiming* timing() const override { return &timing_; }

  const TrapezoidPlannerInput& plannerInput() const { return input_; }
  int32_t status() const { return status_; }

  static bool canReachVmax(double v0, double v1, double V, double amax, double amin, double D);
  static bool canReachV1(double v0, double v1, double amax, double D);
  // The shortest timing with equal ramps (Ta = Td) under which every axis of
  // `axes`, re-planned to it, keeps its own vmax, amax and amin. The inputs
  // must be ones that plan() accepts; false when no such timing is found.
  static bool fastestCommonTiming(const std::vector<TrapezoidPlannerInput>& axes,
                                  TrapezoidTiming* timing);

 private:
  bool inputUsable() const;

  TrapezoidPlannerInput input_;
  TrapezoidTiming timing_;
  // 0 not planned, 1 planned, or the failing plan's result.
  int32_t status_ = 0;
};
