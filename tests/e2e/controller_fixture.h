#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "loopback_client.h"
#include "servo_sim/servo_bus_sim.h"

namespace e2e {

using Ms = std::chrono::milliseconds;

constexpr int kCallPort = 8007;
constexpr int kStreamPort = 8006;
constexpr int kAxes = 6;

// What the operator's DDS participant last saw of "robot_cmd_processor".
struct TopicState {
  long joint_count = 0;
  long pose_count = 0;
  long enable_count = 0;
  std::vector<double> joints;
  std::vector<double> pose;
  bool enabled = false;
};

// An operator's tools on DDS, in this test process: one participant for the
// whole process, publishing the command topics and recording the state topics.
class Operator {
 public:
  static Operator& get();

  void serveOn(bool on);
  void movj(const std::vector<double>& data);
  // points: each holds the six joints followed by the point's time.
  void movjS(const std::vector<std::vector<double>>& points);
  void stop(const std::string& text);
  void setHome(const std::string& text);
  void recover(bool value);
  void graspButton(bool pressed);
  void bArmJoints(const std::vector<double>& positions);
  void followBArm(const std::string& text);

  TopicState state() const;
  bool waitFor(const std::function<bool(const TopicState&)>& done, Ms timeout) const;

  struct Impl;

 private:
  Operator();
  std::shared_ptr<Impl> impl_;
};

// Joint reading the controller reports once servo `axis` (0-based) has
// settled on the goal it was sent for `rad`: goal steps and feedback use
// slightly different scales, so this is not `rad` itself.
double settledReading(int axis, double rad);
// Goal steps the servo of `axis` is sent for joint value `rad`.
int goalSteps(int axis, double rad);
// One feedback step in radians: the finest the bus can tell apart.
constexpr double kBusStep = 0.088 * 3.14159265358979 / 180.0;

// Fails the test with a clear message when one of the controller's fixed
// ports is taken (another controller, or a stray test process).
::testing::AssertionResult portsFree();

// The real controller process on the simulated servo bus, with the
// operator's DDS participant and loopback TCP clients on the side.
class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the simulated bus on the controller's device path.
  void startBus();
  // Starts arm_controller and waits until its command node is up.
  void startController();
  // SIGTERM, then SIGTERM again once its spin has ended, until it is gone.
  void stopController();

  std::string output() const { return controller_ ? controller_->output() : std::string(); }
  bool waitForOutput(const std::string& text, Ms timeout = Ms(20000)) const;
  size_t countInOutput(const std::string& text) const;

  // Waits until the joint topic shows every servo settled on `target`.
  bool waitJointsSettled(const std::vector<double>& target, Ms timeout);
  // Waits until every servo's torque switch is `on`.
  bool waitTorque(bool on, Ms timeout);
  // Waits until no servo's goal register changes for `still`.
  bool waitGoalsStill(Ms still, Ms timeout);
  // Goal positions of servo `id` written on the bus since frame `first`, in order.
  std::vector<int> goalsSent(uint8_t id, size_t first) const;

  // Enables the arm over DDS and waits for the enable topic to confirm it.
  void enableOverDds();

  std::unique_ptr<servo_sim::ServoBusSim> bus_;
  std::unique_ptr<arm_test::ChildProcess> controller_;
  int domain_id_ = 0;
  int port_lock_fd_ = -1;
};

// One framed request on the call server; false when no reply frame came.
bool callServer(server_test::LoopbackClient& client, const std::string& request,
                std::string* reply, Ms timeout = Ms(5000));

}  // namespace e2e
