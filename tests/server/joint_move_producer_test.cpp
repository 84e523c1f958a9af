// The checks and the joint move shared by the command node and the call
// server: a wrong target must never reach the queue, a right one must start
// where the arm is.
#include <gtest/gtest.h>

#include <limits>

#include "all_axises_joint_planner.h"
#include "arm_fixture.h"
#include "joint_move_producer.h"

namespace {

class JointMoveProducer : public server_test::ArmFixture {};

TEST_F(JointMoveProducer, LimitPassesAndAnythingBeyondOrNonFiniteIsRefused) {
  const double limit = static_cast<double>(3.1415927f);
  std::vector<double> target = {limit, 0.0, 0.0, 0.0, 0.0, -limit};
  EXPECT_TRUE(joint_move::checkJointRange(ip_.get(), target, 6));

  target[2] = limit + 0.0001;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(joint_move::checkJointRange(ip_.get(), target, 6));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "The 3st axim angle is over range.Please send viable command again.\n");

  for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()}) {
    target[2] = 0.0;
    target[4] = bad;
    EXPECT_EQ(joint_move::firstAxisOverRange(ip_.get(), target.data(), 6, 6), 4);
  }
  EXPECT_EQ(joint_move::firstAxisOverRange(ip_.get(), target.data(), 4, 6), 4);  // missing axes
}

TEST_F(JointMoveProducer, MoveStartsAtTheMeasuredPositionWithScaledLimits) {
  const std::vector<double> target = {0.5, -0.5, 0.0, 1.0, -1.0, 0.2};
  ASSERT_TRUE(joint_move::planJointMove(ip_.get(), target, 6, 0.4));
  std::lock_guard<std::mutex> lock(ip_->queue_mutex_);
  ASSERT_EQ(ip_->cmd_queue_.size(), 1u);
  auto* cmd = dynamic_cast<AllAxisesJointPlanner*>(ip_->cmd_queue_.front());
  ASSERT_NE(cmd, nullptr);
  ASSERT_EQ(cmd->traj_interface_ptrs_.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    auto* axis = dynamic_cast<TrapezoidPlanner*>(cmd->traj_interface_ptrs_[i]);
    ASSERT_NE(axis, nullptr);
    EXPECT_EQ(axis->isSync(), 1);
    const TrapezoidPlannerInput& in = axis->plannerInput();
    EXPECT_DOUBLE_EQ(in.q0, 0.1 * (i + 1));
    EXPECT_EQ(in.q1, target[i]);
    EXPECT_DOUBLE_EQ(in.vmax, para_.axis_paras[i].max_vel * 0.4);
    EXPECT_DOUBLE_EQ(in.amax, 0.4);
    EXPECT_DOUBLE_EQ(in.amin, -0.4);
  }
}

TEST_F(JointMoveProducer, AbnormalArmOrShortTargetQueuesNothing) {
  EXPECT_FALSE(joint_move::planJointMove(ip_.get(), std::vector<double>(5, 0.0), 6, 0.4));
  ip_->setAbnormalFlag(true);
  EXPECT_TRUE(joint_move::refuseWhenAbnormal(ip_.get()));
  EXPECT_FALSE(joint_move::planJointMove(ip_.get(), std::vector<double>(6, 0.0), 6, 0.4));
  EXPECT_EQ(queued(), 0u);
}

}  // namespace
