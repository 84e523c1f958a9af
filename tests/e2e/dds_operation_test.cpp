// An operator driving the arm over the ROS 2 topics, checked at the servos.
#include <algorithm>
#include <cmath>

#include "controller_fixture.h"

namespace e2e {
namespace {

class DdsOperation : public ControllerTest {};

TEST_F(DdsOperation, HomeRecoverServeOnSplineMovjStopAndServeOff) {
  ASSERT_NO_FATAL_FAILURE(start());
  publishText("set_home_topic", "e2e");
  ASSERT_TRUE(waitForOutput("set home success!")) << output();
  publishFlag("recover_topic", false);
  ASSERT_TRUE(waitForOutput("The system abnormal_flag has been recover.")) << output();
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  // Homing with the motors on is refused and leaves the servos alone.
  publishText("set_home_topic", "e2e");
  ASSERT_TRUE(waitForOutput("when set home, enable is ON error!")) << output();
  for (uint8_t id = 1; id <= kAxes; ++id) EXPECT_EQ(bus_->servo(id).calibrations, 1) << int(id);

  // A spline through timed points: never ahead of its schedule, and it passes
  // through the inner points. The bus carries only some of the 5 ms samples
  // (it sends whatever goal is stored when its pass comes by), so a knot is
  // proven by two goals in a row that enclose it, truncation allowed for.
  const std::vector<double> from = topics().joints;
  std::vector<std::vector<double>> points;
  const double offsets[] = {0.0, 0.2, 0.35, 0.3};
  for (int p = 0; p < 4; ++p) {
    points.emplace_back();
    for (int j = 0; j < kAxes; ++j) points.back().push_back(from[j] + (j % 2 ? -offsets[p] : offsets[p]));
    points.back().push_back(0.5 * p);
  }
  const size_t spline_frame = bus_->frameCount();
  const auto t0 = std::chrono::steady_clock::now();
  publishMovjS(points);
  ASSERT_TRUE(waitUntil([this] { return countInOutput(kArrived) >= 1; }, Ms(20000))) << output();
  EXPECT_GE(std::chrono::steady_clock::now() - t0, Ms(1400));
  const std::vector<double> last(points[3].begin(), points[3].end() - 1);
  EXPECT_TRUE(servosAtGoals(last));
  EXPECT_TRUE(waitJointsSettled(last, Ms(5000)));
  for (int j = 0; j < kAxes; ++j) {
    const std::vector<int> sent = goalsSent(static_cast<uint8_t>(j + 1), spline_frame);
    for (int p = 1; p < 3; ++p) {
      const int want = goalSteps(j, points[p][j]);
      bool seen = false;
      for (size_t k = 0; k < sent.size(); ++k) {
        const int prev = k == 0 ? sent[k] : sent[k - 1];
        seen = seen || (std::min(prev, sent[k]) - 1 <= want && want <= std::max(prev, sent[k]) + 1);
      }
      EXPECT_TRUE(seen) << "axis " << j + 1 << " never sent point " << p + 1 << " (" << want << ")";
    }
  }

  // A joint move reports its arrival once.
  const std::vector<double> target = {0.4, -0.3, 0.5, -0.6, 0.2, 0.7};
  publishMovj({0.4, -0.3, 0.5, -0.6, 0.2, 0.7, 1.0});
  ASSERT_TRUE(waitUntil([this] { return countInOutput(kArrived) >= 2; }, Ms(20000))) << output();
  EXPECT_TRUE(servosAtGoals(target));
  ASSERT_TRUE(waitJointsSettled(target, Ms(5000)));
  std::this_thread::sleep_for(Ms(300));
  EXPECT_EQ(countInOutput(kArrived), 2u);

  // Stop well into a fast move; the move queued behind it must be dropped.
  const std::vector<double> far = {1.5, 1.2, -1.5, 1.5, -1.5, 1.5};
  publishMovj({1.5, 1.2, -1.5, 1.5, -1.5, 1.5, 0.5});
  publishMovj({0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0});
  const double start0 = topics().joints[0];
  ASSERT_TRUE(waitUntil([start0] { return std::fabs(topics().joints[0] - start0) > 0.3; }, Ms(15000)))
      << output();
  const size_t stop_frame = bus_->frameCount();
  publishText("stop_topic", "e2e");
  ASSERT_TRUE(waitForOutput("It take ")) << output();
  ASSERT_TRUE(waitGoalsStill(Ms(400), Ms(10000)));
  std::this_thread::sleep_for(Ms(1000));
  for (int i = 0; i < kAxes; ++i) {
    const auto s = bus_->servo(static_cast<uint8_t>(i + 1));
    EXPECT_NE(s.goal, goalSteps(i, far[i])) << "axis " << i + 1 << " reached the target despite the stop";
    EXPECT_NE(s.goal, goalSteps(i, 0.0)) << "axis " << i + 1 << " ran the dropped move";
  }
  EXPECT_EQ(countInOutput(kArrived), 2u);
  // What reaches the bus after the stop runs one way to rest.
  const std::vector<int> goals = goalsSent(1, stop_frame);
  ASSERT_GT(goals.size(), 10u);
  const int dir = goals.back() > goals.front() ? 1 : -1;
  for (size_t k = 1; k < goals.size(); ++k)
    EXPECT_GE((goals[k] - goals[k - 1]) * dir, 0) << "reversal at goal " << k;

  // The arm takes moves again after the stop.
  publishMovj({0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 1.0});
  EXPECT_TRUE(waitUntil([this] { return countInOutput(kArrived) == 3; }, Ms(20000))) << output();

  publishFlag("serve_on_topic", false);
  EXPECT_TRUE(waitTorque(false, Ms(10000))) << output();
  EXPECT_TRUE(waitUntil([] { return !topics().enabled; }, Ms(10000)));
  EXPECT_EQ(countInOutput("The current command has been killed!"), 0u);
}

}  // namespace
}  // namespace e2e
