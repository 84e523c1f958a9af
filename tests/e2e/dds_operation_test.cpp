// An operator driving the arm over the ROS 2 topics, checked at the servos.
#include <cmath>
#include <thread>

#include "controller_fixture.h"

namespace e2e {
namespace {

class DdsOperation : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    if (HasFatalFailure()) return;
    startBus();
    if (HasFatalFailure()) return;
    startController();
  }

  bool servosAtGoals(const std::vector<double>& target) const {
    for (int i = 0; i < kAxes; ++i) {
      const auto s = bus_->servo(static_cast<uint8_t>(i + 1));
      if (s.goal != goalSteps(i, target[i]) || s.position != s.goal) return false;
    }
    return true;
  }
};

TEST_F(DdsOperation, ServeOnSwitchesTorqueAndEnableTopicFollows) {
  Operator::get().serveOn(true);
  EXPECT_TRUE(waitTorque(true, Ms(10000))) << output();
  EXPECT_TRUE(Operator::get().waitFor([](const TopicState& s) { return s.enabled; }, Ms(10000)));

  Operator::get().serveOn(false);
  EXPECT_TRUE(waitTorque(false, Ms(10000))) << output();
  EXPECT_TRUE(Operator::get().waitFor([](const TopicState& s) { return !s.enabled; }, Ms(10000)));
}

TEST_F(DdsOperation, MovjBringsServosToTargetAndReportsArrivalOnce) {
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  const std::vector<double> target = {0.4, -0.3, 0.5, -0.6, 0.2, 0.7};
  std::vector<double> msg = target;
  msg.push_back(1.0);
  Operator::get().movj(msg);

  ASSERT_TRUE(waitForOutput("plan and curpos arrives goal")) << output();
  EXPECT_TRUE(servosAtGoals(target));
  EXPECT_TRUE(waitJointsSettled(target, Ms(5000)));
  const TopicState s = Operator::get().state();
  ASSERT_EQ(s.pose.size(), 6u);
  // Away from the zero pose the tool has moved; the figures themselves are
  // checked against the stream in the TCP group.
  std::this_thread::sleep_for(Ms(300));
  EXPECT_EQ(countInOutput("plan and curpos arrives goal"), 1u);
  EXPECT_EQ(countInOutput("The current command has been killed!"), 0u);
}

TEST_F(DdsOperation, MovjSPassesThroughTimedPoints) {
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  const TopicState start = Operator::get().state();
  ASSERT_EQ(start.joints.size(), 6u);
  std::vector<std::vector<double>> points;
  const double times[] = {0.0, 0.5, 1.0, 1.5};
  const double offsets[] = {0.0, 0.2, 0.35, 0.3};
  for (int p = 0; p < 4; ++p) {
    std::vector<double> point;
    for (int j = 0; j < kAxes; ++j) point.push_back(start.joints[j] + (j % 2 ? -offsets[p] : offsets[p]));
    point.push_back(times[p]);
    points.push_back(point);
  }
  const size_t first_frame = bus_->frameCount();
  const auto t0 = std::chrono::steady_clock::now();
  Operator::get().movjS(points);

  ASSERT_TRUE(waitForOutput("plan and curpos arrives goal")) << output();
  // A spline can not run ahead of its schedule.
  EXPECT_GE(std::chrono::steady_clock::now() - t0, Ms(1400));
  std::vector<double> last(points[3].begin(), points[3].end() - 1);
  EXPECT_TRUE(servosAtGoals(last));
  EXPECT_TRUE(waitJointsSettled(last, Ms(5000)));

  // The inner points fall on 5 ms samples, so their goals are sent exactly.
  for (int j = 0; j < kAxes; ++j) {
    const std::vector<int> goals = goalsSent(static_cast<uint8_t>(j + 1), first_frame);
    for (int p = 1; p < 3; ++p) {
      const int want = goalSteps(j, points[p][j]);
      bool seen = false;
      for (int g : goals) seen = seen || std::abs(g - want) <= 1;
      EXPECT_TRUE(seen) << "axis " << j + 1 << " never sent point " << p + 1 << " (" << want << ")";
    }
  }
}

TEST_F(DdsOperation, StopDuringMoveDeceleratesAndDropsQueue) {
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  const std::vector<double> far = {1.5, 1.2, -1.5, 1.5, -1.5, 1.5};
  std::vector<double> msg = far;
  msg.push_back(0.5);
  Operator::get().movj(msg);
  // Queued behind the first move; the stop must drop it.
  Operator::get().movj({0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0});

  // Stop well into the move, while moving fast.
  ASSERT_TRUE(Operator::get().waitFor(
      [](const TopicState& s) { return s.joints.size() == 6 && std::fabs(s.joints[0] - 0.0) > 0.3; },
      Ms(15000)))
      << output();
  const size_t stop_frame = bus_->frameCount();
  Operator::get().stop("e2e");
  ASSERT_TRUE(waitForOutput("It take ")) << output();

  // At rest short of the target, and the queued move never starts.
  ASSERT_TRUE(waitGoalsStill(Ms(400), Ms(10000)));
  std::this_thread::sleep_for(Ms(1000));
  for (int i = 0; i < kAxes; ++i) {
    const auto s = bus_->servo(static_cast<uint8_t>(i + 1));
    EXPECT_NE(s.goal, goalSteps(i, far[i])) << "axis " << i + 1 << " reached the target despite the stop";
    EXPECT_NE(s.goal, goalSteps(i, 0.0)) << "axis " << i + 1 << " ran the dropped move";
  }
  EXPECT_EQ(countInOutput("plan and curpos arrives goal"), 0u);

  // The goals after the stop slow down step by step: no jump, no reversal.
  std::vector<int> goals = goalsSent(1, stop_frame);
  ASSERT_GT(goals.size(), 10u);
  // The resting goal is sent on every pass from then on; keep it once.
  while (goals.size() > 1 && goals[goals.size() - 2] == goals.back()) goals.pop_back();
  int first_step = 0;
  for (size_t k = 1; k < goals.size() && first_step == 0; ++k) first_step = std::abs(goals[k] - goals[k - 1]);
  const int dir = goals.back() > goals.front() ? 1 : -1;
  for (size_t k = 1; k < goals.size(); ++k) {
    const int step = (goals[k] - goals[k - 1]) * dir;
    EXPECT_GE(step, 0) << "reversal at goal " << k;
    // Bus passes and loop passes are not locked together: allow two loop steps per pass.
    EXPECT_LE(step, 2 * first_step + 2) << "jump at goal " << k;
  }
  // And it slows down: the last third of the way after the stop is covered
  // by more goals than the first third.
  const int travelled = std::abs(goals.back() - goals.front());
  ASSERT_GT(travelled, 6);
  size_t first_third = 0, last_third = 0;
  for (int g : goals) {
    const int done = std::abs(g - goals.front());
    if (done <= travelled / 3) ++first_third;
    if (done >= travelled - travelled / 3) ++last_third;
  }
  EXPECT_GT(last_third, first_third) << "no deceleration after the stop";

  // The arm takes commands again after the stop.
  Operator::get().movj({0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 1.0});
  EXPECT_TRUE(waitForOutput("plan and curpos arrives goal")) << output();
}

TEST_F(DdsOperation, FollowBArmMovesToItsLastValidJoints) {
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  const std::vector<double> b_arm = {-0.5, 0.3, -0.2, 0.6, 0.4, -0.3};
  Operator::get().bArmJoints(b_arm);
  // A message with the wrong joint count must not replace the good one.
  Operator::get().bArmJoints({1.0, 1.0, 1.0, 1.0, 1.0});
  std::this_thread::sleep_for(Ms(200));
  Operator::get().followBArm("e2e");
  ASSERT_TRUE(waitForOutput("plan and curpos arrives goal")) << output();
  EXPECT_TRUE(servosAtGoals(b_arm));
  EXPECT_TRUE(waitJointsSettled(b_arm, Ms(5000)));
}

TEST_F(DdsOperation, SetHomeWhileDisabledCalibratesEveryServo) {
  Operator::get().setHome("e2e");
  ASSERT_TRUE(waitForOutput("set home success!")) << output();
  for (uint8_t id = 1; id <= kAxes; ++id) EXPECT_EQ(bus_->servo(id).calibrations, 1) << int(id);

  // Homing with the motors on is refused and leaves the servos alone.
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  Operator::get().setHome("e2e");
  ASSERT_TRUE(waitForOutput("when set home, enable is ON error!")) << output();
  for (uint8_t id = 1; id <= kAxes; ++id) EXPECT_EQ(bus_->servo(id).calibrations, 1) << int(id);
}

TEST_F(DdsOperation, RecoverLeavesArmTakingCommands) {
  Operator::get().recover(false);
  ASSERT_TRUE(waitForOutput("The system abnormal_flag has been recover.")) << output();
  EXPECT_TRUE(waitForOutput("I get recover command: 0"));
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  const std::vector<double> target = {0.2, 0.2, 0.2, 0.2, 0.2, 0.2};
  Operator::get().movj({0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 1.0});
  EXPECT_TRUE(waitForOutput("plan and curpos arrives goal")) << output();
  EXPECT_TRUE(waitJointsSettled(target, Ms(5000)));
}

}  // namespace
}  // namespace e2e
