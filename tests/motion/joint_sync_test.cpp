// Multi-axis trajectory commands: the shortest common timing within every
// axis's limits, failed plans never executed, ownership of the per-axis planners.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "motion/commands/all_axises_joint_planner.h"
#include "stdout_capture.h"

namespace {

struct Axis {
  double q0, q1, vmax, a, v0 = 0.0, v1 = 0.0, d = 0.0;
  double dec() const { return d > 0.0 ? d : a; }  // d 0: decelerates like a
};

RobotPara robotOf(int axes) {
  RobotPara para;
  para.axis_num = axes;
  para.axis_reserved.resize(axes);
  para.axis_paras.resize(axes);
  return para;
}

// Built in the order every producer uses; the planners' console lines are dropped.
std::unique_ptr<AllAxisesJointPlanner> plannedMove(const std::vector<Axis>& axes, int* rc) {
  auto cmd = std::make_unique<AllAxisesJointPlanner>();
  cmd->setPlannerType(kPlannerTrapezoid);
  cmd->setRobotPara(robotOf(static_cast<int>(axes.size())));
  std::vector<TrajectoryInterface*> planners;
  for (size_t i = 0; i < axes.size(); ++i) planners.push_back(new TrapezoidPlanner(1));
  cmd->setTrajInterfaces(planners);
  for (size_t i = 0; i < axes.size(); ++i) {
    const Axis& a = axes[i];
    TrapezoidPlannerInput in{0.0, a.q0, a.q1, a.v0, a.v1, a.vmax, a.a, -a.dec()};
    EXPECT_EQ(cmd->setInput(static_cast<int32_t>(i), &in), 0);
  }
  arm_test::StdoutCapture quiet;
  *rc = cmd->plan();
  return cmd;
}

const TrapezoidTiming& timingOf(const AllAxisesJointPlanner& cmd, int axis) {
  return *cmd.traj_interface_ptrs_[axis]->timing();
}

// Every axis shares the common motion time, keeps its own speed and
// acceleration limits and is finished at its goal when that time comes.
// Sampled every 5 ms like the execution loop, a move from rest also stays
// between its end points.
void expectSynchronised(AllAxisesJointPlanner& cmd, const std::vector<Axis>& axes) {
  const double tall = timingOf(cmd, 0).Tall;
  const size_t n = axes.size();
  for (size_t i = 0; i < n; ++i) {
    const TrapezoidTiming& t = timingOf(cmd, static_cast<int>(i));
    EXPECT_DOUBLE_EQ(t.Tall, tall) << "axis " << i;
    EXPECT_LE(std::fabs(t.Vv), axes[i].vmax * (1 + 1e-9)) << "axis " << i;
    EXPECT_LE(std::fabs(t.aa), axes[i].a * (1 + 1e-9)) << "axis " << i;
    EXPECT_LE(std::fabs(t.ad), axes[i].dec() * (1 + 1e-9)) << "axis " << i;
  }
  std::vector<double> pos(n), prev(n);
  for (size_t i = 0; i < n; ++i) prev[i] = axes[i].q0;
  const int steps = static_cast<int>(std::ceil(tall / 0.005));
  int all = -1;
  for (int k = 0; k <= steps; ++k) {
    const double t = std::min(k * 0.005, tall);
    all = cmd.calAllJointsPostion(pos, t);
    for (size_t i = 0; i < n; ++i) {
      const Axis& a = axes[i];
      const bool from_rest = a.v0 == 0.0 && a.v1 == 0.0;
      ASSERT_TRUE(k > 0 || pos[i] == a.q0) << "axis " << i;
      ASSERT_LE(std::fabs(pos[i] - prev[i]) / 0.005, a.vmax * (1 + 1e-9)) << "axis " << i << " t " << t;
      ASSERT_TRUE(!from_rest || (pos[i] >= std::min(a.q0, a.q1) - 1e-12 &&
                                 pos[i] <= std::max(a.q0, a.q1) + 1e-12))
          << "axis " << i << " t " << t;
    }
    prev = pos;
  }
  EXPECT_EQ(all, 1) << "every axis finished at the common time";
  for (size_t i = 0; i < n; ++i) EXPECT_NEAR(pos[i], axes[i].q1, 1e-6) << "axis " << i;
}

// The least 2*Ta + Tv over a fine grid of ramp times Ta = Td up to half of
// `longest`: at each, the least span Ta + Tv whose cruise velocity
// (D - (v0 + v1) / 2 * Ta) / span keeps every axis within its limits.
double bruteForceTime(const std::vector<Axis>& axes, double longest) {
  double best = INFINITY;
  for (int k = 1; k <= 20000; ++k) {
    const double ta = longest / 2.0 * k / 20000;
    double least = ta, most = INFINITY;
    for (const Axis& a : axes) {
      const double n = a.q1 - a.q0 - (a.v0 + a.v1) / 2.0 * ta;
      const double lo = std::max({-a.vmax, a.v0 - a.a * ta, a.v1 - a.dec() * ta});
      const double hi = std::min({a.vmax, a.v0 + a.a * ta, a.v1 + a.dec() * ta});
      // Cruise bounds on the side of the motion, as magnitudes.
      const double up = n < 0 ? -lo : hi, down = n < 0 ? -hi : lo;
      least = std::max(least, up > 0.0 && down <= up ? std::fabs(n) / up : INFINITY);
      if (down > 0.0) most = std::min(most, std::fabs(n) / down);
    }
    if (least <= most) best = std::min(best, ta + least);
  }
  return best;
}

// Random moves, from rest and with moving end points: whatever plans keeps
// every axis within its own limits and ends all axes together, and no shorter
// common timing would do.
TEST(JointSyncTiming, RandomMovesShareTheShortestTimingEveryAxisAllows) {
  // Quick but weak ramps on one axis, a long slow cruise on the other.
  const std::vector<Axis> mixed = {{0, 1, 0.1, 100}, {0, 3, 5, 1}};
  int rc = -9;
  auto cmd = plannedMove(mixed, &rc);
  ASSERT_EQ(rc, 0);
  ASSERT_NEAR(timingOf(*cmd, 0).Tall, 10.3, 1e-9);
  expectSynchronised(*cmd, mixed);

  std::mt19937 rng(11);
  std::uniform_real_distribution<double> pos(-3.1, 3.1), vel(0.2, 5.2), lg(-1.3, 2.0), frac(-0.6, 0.6);
  int moving_planned = 0;
  for (int n = 0; n < 400; ++n) {
    const bool moving_ends = n % 2 == 1;
    std::vector<Axis> axes;
    for (int i = 0; i < (moving_ends ? 3 : 6); ++i) {
      Axis a{pos(rng), pos(rng), vel(rng), std::pow(10.0, lg(rng))};
      if (n % 4 > 1) a.d = std::pow(10.0, lg(rng));
      if (moving_ends) {
        a.v0 = frac(rng) * a.vmax;
        a.v1 = frac(rng) * a.vmax;
      }
      axes.push_back(a);
    }
    if (n % 10 == 0) axes[n % 3].q1 = axes[n % 3].q0;  // a still axis among moving ones
    if (n == 0) {
      for (Axis& a : axes) a.q1 = a.q0;  // no axis moves: finished at once
    }
    cmd = plannedMove(axes, &rc);
    // An axis may find such a move too close to plan; planned, it is never distorted.
    if (moving_ends && rc == kTrapezoidTooClose) continue;
    ASSERT_EQ(rc, 0) << n;
    moving_planned += moving_ends;
    SCOPED_TRACE(n);
    const double tall = timingOf(*cmd, 0).Tall;
    ASSERT_LE(tall, bruteForceTime(axes, tall) * (1 + 1e-9));
    expectSynchronised(*cmd, axes);
  }
  EXPECT_GT(moving_planned, 30);
}

TEST(JointPlanFailure, FailedOrMisfedPlanIsNeverExecuted) {
  std::vector<Axis> axes(6, Axis{0, 1, 1, 1});
  axes[2].vmax = 0.0;  // a velocity scale of 0
  int rc = -9;
  auto cmd = plannedMove(axes, &rc);
  EXPECT_EQ(rc, kTrapezoidBadInput);
  EXPECT_EQ(static_cast<TrapezoidPlanner*>(cmd->traj_interface_ptrs_[3])->status(), 0);
  std::vector<double> pos(6, 0.0);
  EXPECT_EQ(cmd->calAllJointsPostion(pos, 0.5), -1);
  EXPECT_EQ(pos, std::vector<double>(6, 0.0));

  cmd = plannedMove(std::vector<Axis>(6, Axis{0, 1, 1, 1}), &rc);
  TrapezoidPlannerInput in;
  {
    arm_test::StdoutCapture quiet;
    EXPECT_EQ(cmd->setInput(6, &in), -1);
    EXPECT_EQ(cmd->setInput(-1, &in), -1);
  }
  std::vector<double> short_pos(5);
  EXPECT_EQ(cmd->calAllJointsPostion(short_pos, 0.1), -1);
  EXPECT_EQ(cmd->calAllJointsPostion(pos, 0.1), 0) << "the refusals left the plan intact";
}

int destroyed = 0;
struct CountedPlanner : TrapezoidPlanner {
  ~CountedPlanner() override { ++destroyed; }
};

TEST(JointPlanOwnership, CommandDeletesItsPlanners) {
  destroyed = 0;
  auto planner = std::make_unique<AllAxisesJointPlanner>();
  planner->setRobotPara(robotOf(2));
  planner->setTrajInterfaces({new CountedPlanner, new CountedPlanner});
  planner->setTrajInterfaces({new CountedPlanner, new CountedPlanner});
  EXPECT_EQ(destroyed, 2) << "a replaced list is freed";
  delete static_cast<AbstractCmdInterface*>(planner.release());
  EXPECT_EQ(destroyed, 4);
}

}  // namespace
