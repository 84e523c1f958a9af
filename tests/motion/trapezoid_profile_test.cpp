// Single-axis trapezoid profiles: shape, sampling, re-timing and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "trapezoid_planner.h"

namespace {

TrapezoidPlannerInput restToRest(double q0, double q1, double vmax, double a) {
  TrapezoidPlannerInput in;
  in.q0 = q0;
  in.q1 = q1;
  in.vmax = vmax;
  in.amax = a;
  in.amin = -a;
  return in;
}

struct Planned {
  explicit Planned(TrapezoidPlannerInput in) : p(1) {
    p.setInput(&in);
    rc = p.plan();
  }
  double at(double t, int* finished = nullptr) const {
    int f = -1;
    double q = p.position(&f, t);
    if (finished != nullptr) *finished = f;
    return q;
  }
  TrapezoidPlanner p;
  int rc;
};

TEST(TrapezoidProfile, CruiseTriangleAndMirrorSampleCorrectly) {
  Planned full(restToRest(0, 3, 1, 1));
  ASSERT_EQ(full.rc, 0);
  const TrapezoidTiming& t = *full.p.timing();
  EXPECT_DOUBLE_EQ(t.Vv, 1.0);
  EXPECT_DOUBLE_EQ(t.Ta, 1.0);
  EXPECT_DOUBLE_EQ(t.Tv, 2.0);
  EXPECT_DOUBLE_EQ(t.Tall, 4.0);
  EXPECT_DOUBLE_EQ(full.at(0.5), 0.125);
  EXPECT_DOUBLE_EQ(full.at(2.0), 1.5);
  EXPECT_DOUBLE_EQ(full.at(3.0), 2.5);  // start of the deceleration
  EXPECT_DOUBLE_EQ(full.at(3.5), 2.875);
  int finished = 0;
  EXPECT_DOUBLE_EQ(full.at(4.0, &finished), 3.0);
  EXPECT_EQ(finished, 1);

  Planned triangle(restToRest(0, 0.5, 1, 1));
  ASSERT_EQ(triangle.rc, 0);
  const TrapezoidTiming& tt = *triangle.p.timing();
  EXPECT_NEAR(tt.Vv, std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(tt.Ta, std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(tt.Tv, 0.0, 1e-9);
  EXPECT_NEAR(triangle.at(tt.Ta - 1e-9), triangle.at(tt.Ta + 1e-9), 1e-8);

  Planned down(restToRest(0, -3, 1, 1));
  ASSERT_EQ(down.rc, 0);
  EXPECT_LT(down.p.timing()->aa, 0.0);
  EXPECT_GT(down.p.timing()->ad, 0.0);
  for (double s = 0; s < 4.5; s += 0.25) EXPECT_DOUBLE_EQ(down.at(s), -full.at(s)) << s;
}

// Random rest-to-rest moves start at q0, stay within [q0, q1], keep their
// sampled speed within vmax and end exactly at q1 at the motion time.
TEST(TrapezoidProfile, RandomMovesStayWithinLimits) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> pos(-3.1, 3.1), lim(0.05, 6.0);
  for (int n = 0; n < 300; ++n) {
    TrapezoidPlannerInput in = restToRest(pos(rng), pos(rng), lim(rng), lim(rng));
    Planned m(in);
    ASSERT_EQ(m.rc, 0);
    const double lo = std::min(in.q0, in.q1) - 1e-12, hi = std::max(in.q0, in.q1) + 1e-12;
    double prev = m.at(0);
    EXPECT_DOUBLE_EQ(prev, in.q0);
    for (double t = 0.005; t < m.p.motionTime() + 0.01; t += 0.005) {
      const double q = m.at(t);
      ASSERT_TRUE(q >= lo && q <= hi) << n;
      ASSERT_LE(std::fabs(q - prev) / 0.005, in.vmax * (1 + 1e-9)) << n;
      prev = q;
    }
    int finished = 0;
    EXPECT_DOUBLE_EQ(m.at(m.p.motionTime(), &finished), in.q1);
    EXPECT_EQ(finished, 1);
  }
}

TEST(TrapezoidRePlan, MovesOwnDistanceInGivenDurationsOrRefuses) {
  Planned m(restToRest(0, 0.5, 1, 1));
  TrapezoidTiming ref;
  ref.Ta = 1;
  ref.Tv = 2;
  ref.Td = 1;
  ref.Tall = 4;
  ASSERT_EQ(m.p.rePlan(ref), 0);
  EXPECT_NEAR(m.p.timing()->Vv, 1.0 / 6.0, 1e-15);
  int finished = 0;
  EXPECT_LT(m.at(3.9, &finished), 0.5);
  EXPECT_EQ(finished, 0);
  EXPECT_DOUBLE_EQ(m.at(4.0, &finished), 0.5);
  EXPECT_EQ(finished, 1);

  TrapezoidTiming empty;  // no ramps and no cruise cannot carry a move
  EXPECT_EQ(m.p.rePlan(empty), -1);
  ref.Tv = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(m.p.rePlan(ref), -1);
  EXPECT_DOUBLE_EQ(m.p.motionTime(), 4.0);  // the last good timing is kept
}

TEST(TrapezoidZeroDistance, IsFinishedAtStartWithoutNaN) {
  Planned m(restToRest(0.7, 0.7, 1, 1));
  ASSERT_EQ(m.rc, 0);
  EXPECT_EQ(m.p.motionTime(), 0.0);
  TrapezoidTiming ref;
  ref.Ta = ref.Td = 1;
  ref.Tall = 2;
  for (int replanned = 0; replanned < 2; ++replanned) {
    for (double t : {0.0, 0.5, 1.5, 10.0}) {
      int finished = 0;
      EXPECT_EQ(m.at(t, &finished), 0.7);
      EXPECT_EQ(finished, 1);
    }
    ASSERT_EQ(m.p.rePlan(ref), 0);
  }
}

TEST(TrapezoidRefusal, NonsenseInputNeverPlansAMotion) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const TrapezoidPlannerInput base = restToRest(0, 1, 1, 1);
  auto with = [&](double TrapezoidPlannerInput::*field, double v) {
    TrapezoidPlannerInput in = base;
    in.*field = v;
    return in;
  };
  TrapezoidPlannerInput overshoot = restToRest(0, 0.1, 1, 1);
  overshoot.v0 = 1.0;  // cannot stop within 0.1
  const struct {
    const char* what;
    TrapezoidPlannerInput in;
    int rc;
  } cases[] = {
      {"velocity scale 0", with(&TrapezoidPlannerInput::vmax, 0.0), kTrapezoidBadInput},
      {"negative vmax", with(&TrapezoidPlannerInput::vmax, -1.0), kTrapezoidBadInput},
      {"NaN vmax", with(&TrapezoidPlannerInput::vmax, nan), kTrapezoidBadInput},
      {"zero amax", with(&TrapezoidPlannerInput::amax, 0.0), kTrapezoidBadInput},
      {"positive amin", with(&TrapezoidPlannerInput::amin, 1.0), kTrapezoidBadInput},
      {"NaN goal", with(&TrapezoidPlannerInput::q1, nan), kTrapezoidBadInput},
      {"v0 above vmax", with(&TrapezoidPlannerInput::v0, 1.0 + 1e-12), kTrapezoidOverVmax},
      {"cannot stop in time", overshoot, kTrapezoidTooClose},
  };
  for (const auto& c : cases) {
    Planned good(base);
    good.p.setInput(&c.in);
    EXPECT_EQ(good.p.plan(), c.rc) << c.what;
    int finished = -1;
    EXPECT_EQ(good.at(1.0, &finished), c.in.q0) << c.what << ": must hold the start";
    EXPECT_EQ(finished, 0) << c.what;
    EXPECT_EQ(good.p.motionTime(), 2.0) << c.what << ": timing kept";
  }
  EXPECT_EQ(Planned(with(&TrapezoidPlannerInput::v0, 1.0)).rc, 0);  // the test is strict
}

}  // namespace
