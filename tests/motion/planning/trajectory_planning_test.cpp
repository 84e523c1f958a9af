// Joint trajectories: one axis's trapezoids and splines, and multi-axis moves sharing one timing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "motion/commands/all_axises_joint_planner.h"
#include "motion/planning/cubic_spline.h"
#include "stdout_capture.h"

namespace {

TrapezoidPlannerInput fromRest(double q1) { return {0.0, 0.0, q1, 0.0, 0.0, 1.0, 1.0, -1.0}; }
int planned(TrapezoidPlanner& p, const TrapezoidPlannerInput& in) { return p.setInput(&in), p.plan(); }

TEST(TrapezoidProfile, WorkedMovesSampleOnTheirRampsAndCruise) {
  TrapezoidPlanner full(1), down(1), triangle(1);
  ASSERT_EQ(planned(full, fromRest(3)) + planned(down, fromRest(-3)) + planned(triangle, fromRest(0.5)), 0);
  for (const auto& s : {std::make_pair(0.5, 0.125), {2.0, 1.5}, {3.0, 2.5}, {3.5, 2.875}, {4.0, 3.0}}) {
    EXPECT_DOUBLE_EQ(full.position(nullptr, s.first), s.second) << s.first;
    EXPECT_DOUBLE_EQ(down.position(nullptr, s.first), -s.second) << s.first;
  }
  EXPECT_NEAR(triangle.motionTime(), 2 * std::sqrt(0.5), 1e-12);  // too short to cruise
  ASSERT_EQ(triangle.rePlan(*full.timing()), 0);                  // re-timed to 1 + 2 + 1 s, halfway at 2 s
  EXPECT_DOUBLE_EQ(triangle.position(nullptr, 2.0), 0.25);
  EXPECT_EQ(triangle.rePlan(TrapezoidTiming()), -1);
  EXPECT_DOUBLE_EQ(triangle.motionTime(), 4.0) << "an empty timing cannot carry the move and is not kept";
  EXPECT_EQ(planned(down, fromRest(NAN)), kTrapezoidBadInput);
  EXPECT_EQ(down.position(nullptr, 2.0), 0.0) << "a refused plan holds the start, not the last good plan";
}

// Random knots: the clamped spline is the one C2 cubic through them with the given end slopes.
TEST(CubicSplineShape, ClampedSplinesInterpolateSmoothly) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> gap(0.05, 2.0), val(-3, 3);
  for (int n = 0; n < 50; ++n) {
    const int count = 3 + n % 9;
    std::vector<double> x(count), y(count);
    for (int i = 0; i < count; ++i) x[i] = (i > 0 ? x[i - 1] : 0.0) + gap(rng);
    for (double& v : y) v = val(rng);
    const double d0 = val(rng), dn = val(rng);
    CubicSpline s;
    ASSERT_EQ(s.setPoints(x.data(), y.data(), count, kSplineClamped, d0, dn), 1);
    auto slope = [&s](double t, double h) { return (s.eval(t + h) - s.eval(t)) / h; };
    for (int i = 0; i < count; ++i) EXPECT_NEAR(s.eval(x[i]), y[i], 1e-9);
    EXPECT_NEAR(slope(x[0], 1e-7), d0, 1e-3);
    EXPECT_NEAR(slope(x[count - 1], -1e-7), dn, 1e-3);
    for (int i = 1; i + 1 < count; ++i) EXPECT_NEAR(slope(x[i], -1e-7), slope(x[i], 1e-7), 1e-3) << i;
  }
}

// Nonsense never becomes a motion: no trapezoid plans, and a refused spline samples NaN.
TEST(PlannerRefusal, NonsenseInputNeverPlansAMotion) {
  const std::pair<TrapezoidPlannerInput, int> ramps[] = {
      // reserved, q0, q1, v0, v1, vmax, amax, amin
      {{0, 0, 1, 0, 0, 0, 1, -1}, kTrapezoidBadInput},  // a velocity scale of 0
      {{0, 0, 1, 0, 0, -1, 1, -1}, kTrapezoidBadInput},
      {{0, 0, 1, 0, 0, 1, 0, -1}, kTrapezoidBadInput},
      {{0, 0, 1, 0, 0, 1, 1, 1}, kTrapezoidBadInput},
      {{0, 0, 1, 1 + 1e-12, 0, 1, 1, -1}, kTrapezoidOverVmax},
      {{0, 0, 0.1, 1, 0, 1, 1, -1}, kTrapezoidTooClose},  // cannot stop in time
  };
  TrapezoidPlanner ramp(1);
  for (const auto& c : ramps) EXPECT_EQ(planned(ramp, c.first), c.second);
  const CubicPlannerInput points[] = {
      {{0, 1, 2}, {0, 1, 2}},        // plans; each after it is refused and must not leave it to be sampled
      {{0, 1}, {0, 1}},              // too few
      {{0, 1, 2, 3}, {0, 1, 1, 2}},  // a repeated time
      {{0, 1, 2, 3}, {0, 2, 1, 3}},  // time going back
      {{0, 1, 2, 3}, {0, 1, 2, INFINITY}},
      {{0, NAN, 2, 3}, {0, 1, 2, 3}},
      {{0, 1, 2}, {0, 1, 2, 3}},  // sizes differ
  };
  CubicPlanner p;
  for (const CubicPlannerInput& in : points) {
    p.setInput(&in);
    EXPECT_EQ(p.plan(), &in == points ? 0 : -1);
    EXPECT_EQ(std::isnan(p.position(nullptr, 0.5)), &in != points);
  }
}

using Axes = std::vector<TrapezoidPlannerInput>;

int alive = 0;  // planners not yet freed
struct CountedPlanner : TrapezoidPlanner {
  CountedPlanner() : TrapezoidPlanner(1) { ++alive; }
  ~CountedPlanner() override { --alive; }
};

// Built in the order every producer uses, its first planners replaced; console lines dropped.
std::pair<std::unique_ptr<AllAxisesJointPlanner>, int> plannedMove(const Axes& axes) {
  auto cmd = std::make_unique<AllAxisesJointPlanner>();
  const int n = static_cast<int>(axes.size());
  cmd->setRobotPara(RobotPara{n, {}, {}});
  for (int list = 0; list < 2; ++list) {
    std::vector<TrajectoryInterface*> planners;
    for (int i = 0; i < n; ++i) planners.push_back(new CountedPlanner);
    cmd->setTrajInterfaces(planners);
  }
  for (int i = 0; i < n; ++i) EXPECT_EQ(cmd->setInput(i, &axes[i]), 0);
  arm_test::StdoutCapture quiet;
  EXPECT_EQ(cmd->setInput(n, &axes[0]) + cmd->setInput(-1, &axes[0]), -2) << "no such axis";
  const int rc = cmd->plan();
  return {std::move(cmd), rc};
}

// Least 2Ta + Tv over a grid of Ta = Td, each with the least Ta + Tv keeping every axis in its limits.
double bruteForceTime(const Axes& axes, double longest) {
  double best = INFINITY;
  for (int k = 1; k <= 20000; ++k) {
    const double ta = longest / 2.0 * k / 20000;
    double least = ta, most = INFINITY;
    for (const TrapezoidPlannerInput& a : axes) {
      const double n = a.q1 - a.q0 - (a.v0 + a.v1) / 2.0 * ta;
      const double lo = std::max({-a.vmax, a.v0 - a.amax * ta, a.v1 + a.amin * ta});
      const double hi = std::min({a.vmax, a.v0 + a.amax * ta, a.v1 - a.amin * ta});
      const double up = n < 0 ? -lo : hi, down = n < 0 ? -hi : lo;  // as magnitudes along the move
      least = std::max(least, up > 0.0 && down <= up ? std::fabs(n) / up : INFINITY);
      if (down > 0.0) most = std::min(most, std::fabs(n) / down);
    }
    if (least <= most) best = std::min(best, ta + least);
  }
  return best;
}

// Sampled every 5 ms like the loop (too few positions refused): the shortest common time, axes in limits.
void expectSynchronised(AllAxisesJointPlanner& cmd, const Axes& axes) {
  const double tall = cmd.traj_interface_ptrs_[0]->timing()->Tall;
  ASSERT_LE(tall, bruteForceTime(axes, tall) * (1 + 1e-9));
  std::vector<double> pos(axes.size() - 1), prev;
  ASSERT_EQ(cmd.calAllJointsPostion(pos, 0.0), -1);
  pos.push_back(0.0);
  int all = -1;
  for (int k = 0; k <= std::ceil(tall / 0.005); ++k) {
    const double t = std::min(k * 0.005, tall);
    all = cmd.calAllJointsPostion(pos, t);
    if (k == 0) prev = pos;
    for (size_t i = 0; i < axes.size(); ++i) {
      const TrapezoidPlannerInput& a = axes[i];
      const TrapezoidTiming& m = *cmd.traj_interface_ptrs_[i]->timing();
      ASSERT_TRUE(k > 0 || (pos[i] == a.q0 && m.Tall == tall)) << i;
      const double worst = std::max({std::fabs(pos[i] - prev[i]) / 0.005 / a.vmax, std::fabs(m.Vv) / a.vmax,
                                     std::fabs(m.aa) / a.amax, std::fabs(m.ad) / -a.amin});
      ASSERT_LE(worst, 1 + 1e-9) << i << " t " << t;
      ASSERT_TRUE(a.v0 != 0.0 || a.v1 != 0.0 || (pos[i] - a.q0) * (pos[i] - a.q1) <= 1e-12) << i << " t " << t;
    }
    prev = pos;
  }
  EXPECT_EQ(all, 1) << "every axis finished at the common time";
}

// Quick weak ramps beside a long slow cruise, then random moves from rest and with moving ends.
TEST(JointSyncTiming, RandomMovesShareTheShortestTimingEveryAxisAllows) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> pos(-3.1, 3.1), vel(0.2, 5.2), lg(-1.3, 2.0), frac(-0.6, 0.6);
  int moving_planned = 0;
  for (int n = -1; n < 400; ++n) {
    const bool moving_ends = n % 2 == 1;
    Axes axes;
    for (int i = 0; n >= 0 && i < (moving_ends ? 3 : 6); ++i) {
      TrapezoidPlannerInput a{0.0, pos(rng), pos(rng), 0.0, 0.0, vel(rng), std::pow(10.0, lg(rng))};
      a.amin = -(n % 4 > 1 ? std::pow(10.0, lg(rng)) : a.amax);  // half the moves brake at their own rate
      if (moving_ends) a.v0 = frac(rng) * a.vmax, a.v1 = frac(rng) * a.vmax;
      axes.push_back(a);
    }
    if (n < 0) axes = {{0, 0, 1, 0, 0, 0.1, 100, -100}, {0, 0, 3, 0, 0, 5, 1, -1}};
    if (n % 10 == 0) axes[n % 3].q1 = axes[n % 3].q0;  // a still axis among moving ones
    for (TrapezoidPlannerInput& a : axes) a.q1 = n == 0 ? a.q0 : a.q1;  // no axis moves: finished at once
    auto [cmd, rc] = plannedMove(axes);
    std::vector<double> at(axes.size());
    // An axis may find such a move too close to plan; then the command never runs.
    if (moving_ends && rc == kTrapezoidTooClose && cmd->calAllJointsPostion(at, 0.1) == -1) continue;
    SCOPED_TRACE(n);
    ASSERT_EQ(rc, 0);
    moving_planned += moving_ends;
    expectSynchronised(*cmd, axes);
  }
  EXPECT_GT(moving_planned, 30);
  EXPECT_EQ(alive, 0) << "every command freed its planners, replaced ones too";
}

}  // namespace
