#pragma once

#include <cstdint>

#include "motion/planning/trapezoid_timing.h"

// One joint's planner: plan once, then sample the position at any time from
// the start of the motion.
class TrajectoryInterface {
 public:
  TrajectoryInterface() {}
  virtual ~TrajectoryInterface() {}

  // 0 when the motion is planned and may be sampled.
  virtual int plan() = 0;
  // finished becomes 1 once t has reached the goal.
  virtual double position(int* finished, double t) const = 0;
  // The record's type belongs to the implementation; returns the stored copy,
  // or null when the record is refused.
  virtual void* setInput(const void* input) = 0;
  virtual void* input() = 0;
  virtual int rePlan(const TrapezoidTiming& timing) = 0;
  virtual double motionTime() const = 0;
  // Null for planners that have no trapezoid timing.
  virtual const TrapezoidTiming* timing() const = 0;

  int32_t isSync() const { return sync_; }

 protected:
  // 1: every axis of the move is re-timed to one common timing.
  int32_t sync_ = 0;
};
