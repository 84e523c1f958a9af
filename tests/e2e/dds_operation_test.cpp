// An operator driving the arm over the ROS 2 topics, checked at the servos.
#include <algorithm>
#include <cmath>

#include "controller_fixture.h"

namespace e2e {

class DdsOperation : public ControllerTest {};

TEST_F(DdsOperation, HomeRecoverServeOnSplineMovjStopAndServeOff) {
  ASSERT_NO_FATAL_FAILURE(start());
  publish<TextMsg>("set_home_topic", "e2e");
  ASSERT_TRUE(waitForOutput("set home success!"));
  publish<BoolMsg>("recover_topic", false);
  ASSERT_TRUE(waitForOutput("The system abnormal_flag has been recover."));
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  // Homing with the motors on is refused and leaves the servos alone to the end (a late reply may have
  // homed one twice).
  int homed[kAxes];
  ASSERT_TRUE(allServos([&](int i, const auto& s) { return (homed[i] = s.calibrations) >= 1; }));
  publish<TextMsg>("set_home_topic", "e2e");
  ASSERT_TRUE(waitForOutput("when set home, enable is ON error!"));

  // A spline through timed points keeps to its schedule, passes its inner point
  // beyond the end (0.35 past 0.3: the peak goal) and ends on its last point.
  std::vector<double> points;  // each point: six joints, then its time
  for (const double offset : {0.0, 0.2, 0.35, 0.3}) {
    points.insert(points.end(), kAxes, offset);
    points.push_back(0.5 * (points.size() / (kAxes + 1)));
  }
  const auto t0 = std::chrono::steady_clock::now();
  publish<ArrayMsg>("movj_s_topic", points, {4, kAxes + 1});
  int peak = 0;
  auto arrived = [&] { return peak = std::max(peak, bus_->servo(2).goal), countInOutput(kArrived) > 0; };
  ASSERT_TRUE(waitUntil(arrived, Ms(20000)));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, Ms(1400));
  EXPECT_GE(peak, goalSteps(1, 0.34));
  EXPECT_TRUE(waitArrived(std::vector<double>(kAxes, 0.3)));

  const std::vector<double> target = {0.4, -0.3, 0.5, -0.6, 0.2, 0.7};
  publish<ArrayMsg>("movj_topic", {0.4, -0.3, 0.5, -0.6, 0.2, 0.7, 1.0});
  ASSERT_TRUE(waitArrived(target, Ms(20000)));

  // A stop well into a fast move stops it short and drops the move queued behind it.
  publish<ArrayMsg>("movj_topic", {1.5, 1.2, -1.5, 1.5, -1.5, 1.5, 0.5});
  publish<ArrayMsg>("movj_topic", {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0});
  ASSERT_TRUE(waitUntil([&] { return std::fabs(topics().joints[0] - target[0]) > 0.3; }, Ms(15000)));
  publish<TextMsg>("stop_topic", "e2e");
  ASSERT_TRUE(waitForOutput("It take "));
  ASSERT_TRUE(waitGoalsStill(Ms(400), Ms(10000)));
  EXPECT_NE(bus_->servo(1).goal, goalSteps(0, 1.5));
  publish<ArrayMsg>("movj_topic", {0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 1.0});
  EXPECT_TRUE(waitArrived(std::vector<double>(kAxes, 0.1), Ms(20000)));

  publish<BoolMsg>("serve_on_topic", false);
  EXPECT_TRUE(waitTorque(false, Ms(10000)));
  EXPECT_TRUE(waitUntil([] { return !topics().enabled; }, Ms(10000)));
  // Serve off ran after the last move: all but the stopped and dropped ones arrived, once.
  EXPECT_EQ(countInOutput(kArrived), 3u);
  EXPECT_EQ(countInOutput("The current command has been killed!"), 0u);
  EXPECT_TRUE(allServos([&](int i, const auto& s) { return s.calibrations == homed[i]; }));
}

// What the operator sends while a stop brakes the arm runs once it rests: a movj, a serve off, a
// power-off call (answered true). Each stop comes at about 1 rad/s, so the braking lasts a second or
// more, far longer than a command takes to arrive.
TEST_F(DdsOperation, CommandsSentDuringTheBrakingRunOnceTheArmRests) {
  ASSERT_NO_FATAL_FAILURE(start());
  LoopbackClient call;
  ASSERT_TRUE(call.connectTo(kCallPort));
  for (size_t round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_NO_FATAL_FAILURE(enableOverDds());
    const double from = topics().joints.at(0), to = from > 0.0 ? -2.5 : 2.5;
    publish<ArrayMsg>("movj_topic", {to, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0});
    ASSERT_TRUE(waitUntil([&] { return std::fabs(topics().joints.at(0) - from) > 0.5; }, Ms(30000)));
    publish<TextMsg>("stop_topic", "e2e");
    ASSERT_TRUE(waitUntil([&] { return countInOutput("It take ") == round + 1; }, Ms(20000)));
    if (round == 0) {
      publish<ArrayMsg>("movj_topic", {0.3, 0.3, 0.3, 0.3, 0.3, 0.3, 1.0});
      EXPECT_TRUE(waitArrived(std::vector<double>(kAxes, 0.3)));
      continue;
    }
    if (round == 1) {
      publish<BoolMsg>("serve_on_topic", false);
    } else {
      ASSERT_TRUE(ask(call, robot_ping::PostEnablePower, false));
      EXPECT_TRUE(reply(call, Ms(20000)).success());
    }
    EXPECT_TRUE(waitTorque(false, Ms(20000)));
    EXPECT_TRUE(waitUntil([] { return !topics().enabled; }, Ms(20000)));
    EXPECT_NE(bus_->servo(1).goal, goalSteps(0, to));
  }
  EXPECT_EQ(countInOutput(kArrived), 1u);
}

}  // namespace e2e
