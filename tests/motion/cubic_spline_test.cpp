// Cubic splines through timed points and the cubic joint planner.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "motion/planning/cubic_planner.h"
#include "motion/planning/cubic_spline.h"

namespace {

double slope(const CubicSpline& s, double t, double side) {
  const double h = 1e-6;
  return side > 0 ? (s.eval(t + h) - s.eval(t)) / h : (s.eval(t) - s.eval(t - h)) / h;
}

// A clamped spline is the only C2 cubic through the knots with the given
// end slopes: check it by those properties on random knots.
TEST(CubicSplineShape, ClampedSplinesInterpolateSmoothly) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> gap(0.05, 2.0), val(-3, 3);
  for (int n = 0; n < 50; ++n) {
    const int count = 3 + n % 9;
    std::vector<double> x(count), y(count);
    double t = val(rng);
    for (int i = 0; i < count; ++i) {
      x[i] = t += gap(rng);
      y[i] = val(rng);
    }
    const double d0 = val(rng), dn = val(rng);
    CubicSpline s;
    ASSERT_EQ(s.setPoints(x.data(), y.data(), count, kSplineClamped, d0, dn), 1);
    for (int i = 0; i < count; ++i) EXPECT_NEAR(s.eval(x[i]), y[i], 1e-9);
    EXPECT_NEAR(slope(s, x[0], +1), d0, 1e-3);
    EXPECT_NEAR(slope(s, x[count - 1], -1), dn, 1e-3);
    for (int i = 1; i + 1 < count; ++i)
      EXPECT_NEAR(slope(s, x[i], -1), slope(s, x[i], +1), 1e-3) << "kink at knot " << i;
  }
}

CubicPlannerInput points(std::vector<double> times, std::vector<double> positions) {
  return CubicPlannerInput{std::move(positions), std::move(times)};
}

// A refused plan must not leave the previous spline to be sampled.
TEST(CubicPlannerRun, RefusesPointsThatCannotMakeASpline) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const CubicPlannerInput bad[] = {
      points({0, 1}, {0, 1}),                // too few
      points({0, 1, 1, 2}, {0, 1, 2, 3}),    // repeated time
      points({0, 2, 1, 3}, {0, 1, 2, 3}),    // time going back
      points({0, nan, 2, 3}, {0, 1, 2, 3}),  // time not a number
      points({0, 1, 2, 3}, {0, nan, 2, 3}),  // position not a number
      points({0, 1, 2, 3}, {0, 1, 2}),       // sizes differ
  };
  for (const CubicPlannerInput& in : bad) {
    CubicPlanner p;
    CubicPlannerInput good = points({0, 1, 2}, {0, 1, 2});
    p.setInput(&good);
    ASSERT_EQ(p.plan(), 0);
    p.setInput(&in);
    EXPECT_EQ(p.plan(), -1);
    int finished = -1;
    EXPECT_TRUE(std::isnan(p.position(&finished, 0.5)));
  }
}

}  // namespace
