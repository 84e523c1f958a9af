#include <cmath>
#include <cstdio>
#include <limits>

#include "interpolator_fixture.h"

namespace interp_test {
namespace {

TEST_F(InterpolatorTest, StopDuringAMoveDeceleratesToRestAndDropsTheQueue) {
  makeArm(6, true, 1.0, 2.0);
  ip_->insertCmd(move({2.0, -1.0, 1.5, 0.5, 0.2, -2.0}));
  int deleted = 0;
  ip_->insertCmd(enableCmd(false, new CountedMotorIoCmd(&deleted)));
  passes(300);  // cruising at 1 rad/s by now
  std::vector<size_t> before;
  for (auto& m : motors_) before.push_back(m->goals().size());
  const double cruise = ip_->plan_states_[0].vel;

  ip_->stop();
  Capture cap;
  ASSERT_TRUE(runUntilIdle(500));
  const std::string out = cap.text();
  ASSERT_EQ(countOf(out, "It take "), 1);
  int n = -1;
  std::sscanf(out.c_str() + out.find("It take "), "It take %d periods to stop.", &n);
  // Long enough for the axis limit, not one period longer than needed.
  EXPECT_GE(n * 0.005, std::fabs(cruise) / 2.0 - 1e-12);
  EXPECT_LT((n - 1) * 0.005, std::fabs(cruise) / 2.0 + 1e-12);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(motors_[0]->calls(TestMotor::kSetEnable), 0);

  for (int i = 0; i < 6; ++i) {
    const std::vector<double> goals = motors_[i]->goals();
    ASSERT_EQ(goals.size(), before[i] + static_cast<size_t>(n)) << "axis " << i;
    double prev_step = goals[before[i] - 1] - goals[before[i] - 2];
    for (size_t k = before[i]; k < goals.size(); ++k) {
      const double step = goals[k] - goals[k - 1];
      EXPECT_GE(step * prev_step, 0.0) << "reversal on axis " << i;
      EXPECT_LE(std::fabs(step - prev_step), 2.0 * 0.005 * 0.005 * (1 + 1e-9));
      prev_step = step;
    }
    EXPECT_EQ(goals.back(), goals[goals.size() - 2]);  // last step at exactly 0
    EXPECT_EQ(ip_->plan_states_[i].vel, 0.0);
  }
}

TEST_F(InterpolatorTest, StopAtAnyPassOfAFullSpeedMoveEndsWithinGoalAndLimits) {
  const double acc = 9.0, max_change = acc * 0.005 * 0.005 * (1 + 1e-9);
  for (const std::vector<double>& to : {std::vector<double>{M_PI}, {M_PI, -3.0, 1.0, -0.5, 2.0, -M_PI}}) {
    for (int at = 1;; ++at) {
      SCOPED_TRACE(at);
      Capture quiet;
      makeArm(static_cast<int>(to.size()), true, 5.201081170943102, acc);
      ip_->insertCmd(move(to));
      passes(at);
      if (queued() == 0) break;
      ip_->stop();
      ASSERT_TRUE(runUntilIdle(1000));
      quiet.text();
      for (size_t i = 0; i < to.size(); ++i) {
        const std::vector<double> g = motors_[i]->goals();
        for (size_t k = 2; k < g.size(); ++k) {
          // Within [0, goal], never turning back, never braking over acc.
          ASSERT_LE(std::fabs(g[k] - to[i] / 2), std::fabs(to[i]) / 2 + 1e-9) << "axis " << i;
          ASSERT_GE((g[k] - g[k - 1]) * to[i], 0.0) << "axis " << i;
          ASSERT_LE(std::fabs(g[k] - 2 * g[k - 1] + g[k - 2]), max_change) << "axis " << i;
        }
      }
    }
  }
  // A path with no end of its own still stops inside the joint limit.
  Capture quiet;
  makeArm(1, true, 1.0, 2.0);
  motors_[0]->setPosition(3.0);
  ip_->insertCmd(scripted([](int, double t) { return 3.0 + 0.8 * t; }, 1e9));
  passes(26);
  ip_->stop();
  ASSERT_TRUE(runUntilIdle(200));
  quiet.text();
  EXPECT_LE(motors_[0]->position(), kin_.joint_max_[0]);
}

TEST_F(InterpolatorTest, StopWithNothingToStopSparesTheNextCommand) {
  makeArm(6);
  Capture quiet;
  // One made during the last step of a command, one while idle.
  ip_->insertCmd(scripted([this](int, double) { ip_->stop(); return 0.0; }, 0.0));
  passes(1);
  ip_->stop();
  ip_->insertCmd(enableCmd(false));
  ASSERT_TRUE(runUntilIdle(20));
  for (auto& m : motors_) EXPECT_FALSE(m->enabled());
}

TEST_F(InterpolatorTest, FailedReadsPauseMoveAndStopWithoutLosingAStep) {
  auto run = [this](bool fail) {
    makeArm(2, true, 1.0, 2.0);
    ip_->insertCmd(move({2.0, 1.0}));
    auto failPasses = [&](int axis, TestMotor::Op op, int count) {
      if (!fail) return;
      motors_[axis]->setResult(op, -1);
      const size_t sent = motors_[0]->goals().size();
      passes(count);
      EXPECT_EQ(motors_[0]->goals().size(), sent);
      motors_[axis]->setResult(op, 0);
    };
    passes(30);
    failPasses(1, TestMotor::kGetVelocity, 3);
    passes(270);
    ip_->stop();
    passes(10);
    failPasses(1, TestMotor::kGetPosition, 2);
    EXPECT_TRUE(runUntilIdle(500));
    return motors_[0]->goals();
  };
  Capture quiet;
  const std::vector<double> reference = run(false);
  EXPECT_EQ(run(true), reference);
}

TEST_F(InterpolatorTest, StopIsFiniteWithUnusableAccelerationOrVelocity) {
  makeArm(2, true, 1.0, 0.0);  // max_acc 0: no time to rest can be derived
  ip_->insertCmd(scripted([](int, double t) { return 0.004 + t * 0.8; }, 5.0));
  passes(5);
  ip_->plan_states_[1].vel = std::numeric_limits<double>::infinity();
  ip_->stop();
  Capture cap;
  ASSERT_TRUE(runUntilIdle(5));
  EXPECT_EQ(countOf(cap.text(), "It take 1 periods to stop.\n"), 1);
  for (const AxisPlanState& s : ip_->plan_states_) EXPECT_EQ(s.vel, 0.0);
}

TEST_F(InterpolatorTest, CollisionStopsTheMoveUntilRecoverClearsIt) {
  makeArm(2);
  ip_->collision_result_ = 1;
  ip_->abnormal_flag = true;
  ip_->insertCmd(move({0.2, 0.2}));
  ASSERT_TRUE(runUntilIdle(5));
  EXPECT_TRUE(motors_[0]->goals().size() <= 1u);

  ip_->setAbnormalFlag(false);
  EXPECT_EQ(ip_->collision_result_, 0);
  ip_->insertCmd(move({0.2, 0.2}));
  Capture cap;
  ASSERT_TRUE(runUntilIdle(1000));
  EXPECT_EQ(countOf(cap.text(), "plan and curpos arrives goal"), 1);
}

}  // namespace
}  // namespace interp_test
