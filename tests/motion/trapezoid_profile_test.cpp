// Single-axis trapezoid profiles: shape, sampling, re-timing and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "motion/planning/trapezoid_planner.h"

namespace {

TrapezoidPlannerInput restToRest(double q0, double q1, double vmax, double a) {
  return TrapezoidPlannerInput{0.0, q0, q1, 0.0, 0.0, vmax, a, -a};
}

// A planner planned from `in`; its plan() result in *rc.
struct Planned : TrapezoidPlanner {
  explicit Planned(const TrapezoidPlannerInput& in) : TrapezoidPlanner(1) {
    setInput(&in);
    rc = plan();
  }
  double at(double t, int* finished = nullptr) const {
    int f = -1;
    const double q = position(&f, t);
    if (finished != nullptr) *finished = f;
    return q;
  }
  int rc;
};

TEST(TrapezoidProfile, CruiseTriangleAndMirrorSampleCorrectly) {
  Planned full(restToRest(0, 3, 1, 1));
  ASSERT_EQ(full.rc, 0);
  EXPECT_DOUBLE_EQ(full.timing()->Vv, 1.0);
  EXPECT_DOUBLE_EQ(full.timing()->Ta, 1.0);
  EXPECT_DOUBLE_EQ(full.timing()->Tv, 2.0);
  EXPECT_DOUBLE_EQ(full.timing()->Tall, 4.0);
  EXPECT_DOUBLE_EQ(full.at(0.5), 0.125);
  EXPECT_DOUBLE_EQ(full.at(2.0), 1.5);
  EXPECT_DOUBLE_EQ(full.at(3.0), 2.5);  // start of the deceleration
  EXPECT_DOUBLE_EQ(full.at(3.5), 2.875);
  int finished = 0;
  EXPECT_DOUBLE_EQ(full.at(4.0, &finished), 3.0);
  EXPECT_EQ(finished, 1);

  Planned triangle(restToRest(0, 0.5, 1, 1));
  ASSERT_EQ(triangle.rc, 0);
  const double ta = triangle.timing()->Ta;
  EXPECT_NEAR(triangle.timing()->Vv, std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(ta, std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(triangle.timing()->Tv, 0.0, 1e-9);
  EXPECT_NEAR(triangle.at(ta - 1e-9), triangle.at(ta + 1e-9), 1e-8);

  Planned down(restToRest(0, -3, 1, 1));
  ASSERT_EQ(down.rc, 0);
  for (double s = 0; s < 4.5; s += 0.25) EXPECT_DOUBLE_EQ(down.at(s), -full.at(s)) << s;
}

// The success path of re-timing is covered by the synchronised moves.
TEST(TrapezoidRePlan, RefusesDurationsThatCannotCarryTheMove) {
  Planned m(restToRest(0, 0.5, 1, 1));
  TrapezoidTiming ref;
  ref.Ta = ref.Td = 1;
  ref.Tv = 2;
  ref.Tall = 4;
  ASSERT_EQ(m.rePlan(ref), 0);
  EXPECT_EQ(m.rePlan(TrapezoidTiming()), -1) << "no ramps and no cruise cannot carry a move";
  ref.Tv = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(m.rePlan(ref), -1);
  EXPECT_DOUBLE_EQ(m.motionTime(), 4.0);  // the last good timing is kept
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
    good.setInput(&c.in);
    EXPECT_EQ(good.plan(), c.rc) << c.what;
    int finished = -1;
    EXPECT_EQ(good.at(1.0, &finished), c.in.q0) << c.what << ": must hold the start";
    EXPECT_EQ(finished, 0) << c.what;
    EXPECT_EQ(good.motionTime(), 2.0) << c.what << ": timing kept";
  }
  EXPECT_EQ(Planned(with(&TrapezoidPlannerInput::v0, 1.0)).rc, 0);  // the limit itself plans
}

}  // namespace
