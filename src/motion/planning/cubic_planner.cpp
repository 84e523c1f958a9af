#include "motion/planning/cubic_planner.h"

#include <cmath>
#include <cstdio>

CubicPlanner::CubicPlanner() { sync_ = 0; }

CubicPlanner::~CubicPlanner() { spline_.release(); }

void* CubicPlanner::setInput(const void* input) {
  if (input == nullptr) return nullptr;
  const CubicPlannerInput* in = static_cast<const CubicPlannerInput*>(input);
  if (in->times.empty()) {
    puts("CubicPlanner::setInput refused an input without times.");
    return nullptr;
  }
  input_ = *in;
  motion_time_ = input_.times.back();
  return &input_;
}

void* CubicPlanner::input() { return &input_; }

int CubicPlanner::plan() {
  const size_t n = input_.times.size();
  if (input_.positions.size() != n) {
    printf("CubicPlanner::plan refused: %zu positions for %zu times.\n", input_.positions.size(), n);
    spline_.release();
    return -1;
  }
  // Zero end slopes: the axis starts and stops at rest.
  if (spline_.setPoints(input_.times.data(), input_.positions.data(), static_cast<int32_t>(n),
                        kSplineClamped, 0.0, 0.0) != 1) {
    printf("CubicPlanner::plan refused: %zu points, which must be at least 3, finite and strictly "
           "increasing in time.\n",
           n);
    spline_.release();
    return -1;
  }
  puts("CubicPlanner::plan finish!");
  return 0;
}

double CubicPlanner::position(int* finished, double t) const { return spline_.evalEnd(finished, t); }

int CubicPlanner::rePlan(const TrapezoidTiming& /*timing*/) { return 0; }
