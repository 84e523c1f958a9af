// A local program driving the arm over the call server and watching the
// stream server, checked against the servos and the ROS 2 topics.
#include <chrono>
#include <cmath>
#include <thread>

#include "cloud/robot_ping.pb.h"
#include "controller_fixture.h"

namespace e2e {
namespace {

using server_test::LoopbackClient;

class TcpDriver : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    if (HasFatalFailure()) return;
    startBus();
    if (HasFatalFailure()) return;
    startController();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(call_.connectTo(kCallPort));
  }

  robot_ping::MainArmRespMsg request(const robot_ping::MainArmRequestMsg& req, Ms timeout = Ms(5000)) {
    std::string bytes;
    robot_ping::MainArmRespMsg resp;
    EXPECT_TRUE(callServer(call_, req.SerializeAsString(), &bytes, timeout)) << output();
    EXPECT_TRUE(resp.ParseFromString(bytes));
    return resp;
  }

  bool power(bool on) {
    robot_ping::MainArmRequestMsg req;
    req.set_requesttype(robot_ping::PostEnablePower);
    req.set_enablepower(on);
    const auto resp = request(req, Ms(15000));
    EXPECT_EQ(resp.requesttype(), robot_ping::PostEnablePower);
    return resp.success();
  }

  LoopbackClient call_;
};

// The newest state frame: everything queued up in the socket is skipped.
bool latestState(LoopbackClient& stream, robot_ping::MainArmStates* state) {
  std::string payload;
  if (!stream.readFrame(&payload, Ms(2000))) return false;
  while (!stream.silentFor(Ms(0))) {
    if (!stream.readFrame(&payload, Ms(2000))) return false;
  }
  return state->ParseFromString(payload);
}

TEST_F(TcpDriver, GetMainArmIdAnswersTheArmsId) {
  robot_ping::MainArmRequestMsg req;
  req.set_requesttype(robot_ping::GetMainArmId);
  for (int i = 0; i < 2; ++i) {
    const auto resp = request(req);
    EXPECT_EQ(resp.requesttype(), robot_ping::GetMainArmId);
    EXPECT_EQ(resp.id(), "7c3e9b12-4a6f-4d0e-9b85-e21f6c4a8d07");
  }
}

TEST_F(TcpDriver, PostEnablePowerSwitchesTorqueOnAndOff) {
  EXPECT_TRUE(power(true)) << output();
  EXPECT_TRUE(waitTorque(true, Ms(2000)));
  EXPECT_TRUE(Operator::get().waitFor([](const TopicState& s) { return s.enabled; }, Ms(5000)));

  EXPECT_TRUE(power(false)) << output();
  EXPECT_TRUE(waitTorque(false, Ms(2000)));
  EXPECT_TRUE(Operator::get().waitFor([](const TopicState& s) { return !s.enabled; }, Ms(5000)));
}

TEST_F(TcpDriver, PostJointAngleRepliesSuccessOnArrival) {
  ASSERT_TRUE(power(true)) << output();
  const std::vector<double> target = {-0.3, 0.25, 0.4, 0.5, -0.45, -0.2};
  robot_ping::MainArmRequestMsg req;
  req.set_requesttype(robot_ping::PostJointAngle);
  for (double v : target) req.mutable_angle()->add_angle(v);
  // The server settles 10 s before it looks, then checks for up to 10 s.
  const auto resp = request(req, Ms(25000));
  EXPECT_EQ(resp.requesttype(), robot_ping::PostJointAngle);
  EXPECT_TRUE(resp.success()) << output();
  for (int i = 0; i < kAxes; ++i) {
    EXPECT_EQ(bus_->servo(static_cast<uint8_t>(i + 1)).position, goalSteps(i, target[i])) << i;
  }
  EXPECT_TRUE(waitJointsSettled(target, Ms(2000)));
}

TEST_F(TcpDriver, StreamShowsTheSameStateAsTheTopics) {
  LoopbackClient stream;
  ASSERT_TRUE(stream.connectTo(kStreamPort));
  ASSERT_NO_FATAL_FAILURE(enableOverDds());
  const std::vector<double> target = {0.5, -0.4, 0.6, 0.3, 0.35, -0.5};
  Operator::get().movj({0.5, -0.4, 0.6, 0.3, 0.35, -0.5, 1.0});
  ASSERT_TRUE(waitForOutput("plan and curpos arrives goal")) << output();
  ASSERT_TRUE(waitJointsSettled(target, Ms(5000)));

  // At rest, one period later both sides must show the very same figures.
  std::this_thread::sleep_for(Ms(100));
  const TopicState topics = Operator::get().state();
  robot_ping::MainArmStates state;
  std::string payload;
  ASSERT_TRUE(latestState(stream, &state));
  ASSERT_EQ(state.angle().angle_size(), kAxes);
  ASSERT_EQ(topics.pose.size(), 6u);
  ASSERT_EQ(state.pose_size(), 6);
  for (int i = 0; i < kAxes; ++i) EXPECT_DOUBLE_EQ(state.angle().angle(i), topics.joints[i]) << i;
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(state.pose(i), topics.pose[i], 1e-9) << i;
  EXPECT_TRUE(state.enablepower());
  EXPECT_FALSE(state.gripsignal());
  const long long now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  EXPECT_NEAR(static_cast<double>(state.timestamp()), static_cast<double>(now_ms), 2000.0);

  // Frames keep coming about every 30 ms.
  ASSERT_TRUE(latestState(stream, &state));
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(stream.readFrame(&payload, Ms(2000)));
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GT(took, Ms(200));
  EXPECT_LT(took, Ms(3000));

  // The grasp button travels from DDS to the stream.
  Operator::get().graspButton(true);
  bool grip = false;
  for (int i = 0; i < 100 && !grip; ++i) {
    ASSERT_TRUE(stream.readFrame(&payload, Ms(2000)));
    ASSERT_TRUE(state.ParseFromString(payload));
    grip = state.gripsignal();
  }
  EXPECT_TRUE(grip) << "gripSignal never came through";

  // A change of the enable state shows on both within one period of each other.
  Operator::get().serveOn(false);
  ASSERT_TRUE(Operator::get().waitFor([](const TopicState& s) { return !s.enabled; }, Ms(10000)));
  // Skip what was built before the change; the frame after must show it.
  ASSERT_TRUE(latestState(stream, &state));
  ASSERT_TRUE(stream.readFrame(&payload, Ms(2000)));
  ASSERT_TRUE(state.ParseFromString(payload));
  EXPECT_FALSE(state.enablepower());
}

}  // namespace
}  // namespace e2e
