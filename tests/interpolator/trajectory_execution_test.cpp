#include <algorithm>
#include <cmath>
#include <limits>

#include "interpolator_fixture.h"

namespace interp_test {
namespace {

TEST_F(InterpolatorTest, SixAxisMoveStaysWithinLimitsAndEndsTogether) {
  const std::vector<double> ratios = {1.0, 2.0, 1.0, 0.5, 1.0, 1.0};
  makeArm(6, true, 1.0, 2.0, ratios);
  const std::vector<double> target = {0.8, -0.4, 1.2, 0.2, -0.1, 0.05};
  ip_->insertCmd(move(target));
  Capture cap;
  ASSERT_TRUE(runUntilIdle(2000));
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "plan and curpos arrives goal"), 1);
  EXPECT_EQ(countOf(out, "killed"), 0);

  // Synchronised axes cover the same fraction of their distance at every sample.
  const std::vector<double> lead = motors_[0]->goals();
  for (int i = 0; i < 6; ++i) {
    const std::vector<double> goals = motors_[i]->goals();
    ASSERT_EQ(goals.size(), lead.size()) << "axis " << i;
    double prev = 0.0;
    for (size_t k = 0; k < goals.size(); ++k) {
      const double joint = goals[k] / ratios[i];
      EXPECT_LE(std::fabs(joint - prev), 1.0 * 0.005 * (1 + 1e-9)) << "axis " << i << " step " << k;
      EXPECT_NEAR(joint / target[i], lead[k] / target[0], 1e-6) << i << " " << k;
      prev = joint;
    }
    EXPECT_NEAR(goals.back() / ratios[i], target[i], 1e-9);
  }
  EXPECT_NEAR(ip_->getAxisStates()[1].pos, target[1], 1e-9);
}

TEST_F(InterpolatorTest, FirstSampleJumpKillsTheMoveBeforeAnythingIsSent) {
  makeArm(6);
  ip_->insertCmd(scripted([](int i, double) { return i == 2 ? 0.5 : 0.0; }, 1.0));
  Capture cap;
  ip_->runPass();
  const std::string out = cap.text();
  EXPECT_EQ(countOf(out, "The <3> axis planned velocity exceed the limit !\n"), 1);
  EXPECT_EQ(countOf(out, "The current command has been killed!"), 1);
  EXPECT_EQ(queued(), 0u);
  for (auto& m : motors_) EXPECT_EQ(m->calls(TestMotor::kSetPosition), 0);
  // The rejected sample leaves no trace: a later stop has nothing to ramp,
  // and the next move starts where the arm is.
  for (const AxisPlanState& s : ip_->plan_states_) {
    EXPECT_EQ(s.pos, 0.0);
    EXPECT_EQ(s.vel, 0.0);
  }
  EXPECT_EQ(ip_->getNextMoveStart(), std::vector<double>(6, 0.0));
}

TEST_F(InterpolatorTest, VelocityCheckToleratesRoundingButNotNaN) {
  makeArm(1, true, 1.0);
  // Exactly the limit every period, with t summed in steps of 0.005.
  ip_->insertCmd(scripted([](int, double t) { return std::min(t + 0.005, 0.25); }, 0.25));
  Capture at_limit;
  ASSERT_TRUE(runUntilIdle(200));
  EXPECT_EQ(countOf(at_limit.text(), "killed"), 0);

  const double start = motors_[0]->position();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ip_->insertCmd(scripted([=](int, double t) { return t >= 0.02 ? nan : start; }, 1.0));
  Capture not_a_number;
  ASSERT_TRUE(runUntilIdle(20));
  EXPECT_EQ(countOf(not_a_number.text(), "The current command has been killed!"), 1);
  EXPECT_FALSE(std::isnan(motors_[0]->goals().back()));
  EXPECT_FALSE(std::isnan(ip_->plan_states_[0].pos));
}

TEST_F(InterpolatorTest, FailedSetEndsTheMoveAndLaterAxesGetNothing) {
  makeArm(6);
  ip_->insertCmd(move({0.3, 0.3, 0.3, 0.3, 0.3, 0.3}));
  passes(10);
  motors_[2]->setResult(TestMotor::kSetPosition, kMotorGoalNotStored);
  const size_t sent_axis4 = motors_[3]->goals().size();
  Capture cap;
  ip_->runPass();
  EXPECT_EQ(countOf(cap.text(), "When the 3 axis setMotorPosition has an error,errorcode=<5002>\n"), 1);
  EXPECT_EQ(motors_[3]->goals().size(), sent_axis4);
  EXPECT_EQ(queued(), 0u);
}

}  // namespace
}  // namespace interp_test
