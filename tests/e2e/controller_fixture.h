#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "loopback_client.h"
#include "servo_sim/servo_bus_sim.h"

namespace e2e {

using Ms = std::chrono::milliseconds;

constexpr int kCallPort = 8007;
constexpr int kStreamPort = 8006;
constexpr int kAxes = 6;
constexpr const char* kArrived = "plan and curpos arrives goal";
constexpr const char* kArmId = "7c3e9b12-4a6f-4d0e-9b85-e21f6c4a8d07";

template <class Done>
bool waitUntil(Done done, Ms timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Ms(5));
  }
  return true;
}

// What the operator's DDS participant last saw of "robot_cmd_processor".
struct TopicState {
  long joint_count = 0;
  std::vector<double> joints;
  std::vector<double> pose;
  bool enabled = false;
};
TopicState topics();

// The operator's command topics, published from this test process.
void publishFlag(const std::string& topic, bool value);
void publishText(const std::string& topic, const std::string& text);
void publishMovj(const std::vector<double>& joints_then_scale);
// Each point holds the six joints followed by the point's time.
void publishMovjS(const std::vector<std::vector<double>>& points);

// Goal steps the servo of `axis` is sent for joint value `rad`.
int goalSteps(int axis, double rad);

// The real controller process on the simulated servo bus.
class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void startBus();
  void launch(std::map<std::string, std::string> env = {});
  // Bus, controller, and its first joint states over DDS.
  void start();

  std::string output() const { return controller_ ? controller_->output() : std::string(); }
  bool waitForOutput(const std::string& text, Ms timeout = Ms(20000)) const {
    return controller_ && controller_->waitForOutput(text, timeout);
  }
  size_t countInOutput(const std::string& text) const;

  // The joint topic shows every servo settled on `target`.
  bool waitJointsSettled(const std::vector<double>& target, Ms timeout);
  // True when check(axis, servo) holds for every servo.
  template <class Check>
  bool allServos(Check check) const {
    for (int i = 0; i < kAxes; ++i) {
      if (!check(i, bus_->servo(static_cast<uint8_t>(i + 1)))) return false;
    }
    return true;
  }
  bool waitTorque(bool on, Ms timeout) const {
    return waitUntil([&] { return allServos([on](int, const auto& s) { return s.torque_on == on; }); },
                     timeout);
  }
  bool servosAtGoals(const std::vector<double>& t) const {
    return allServos(
        [&t](int i, const auto& s) { return s.goal == goalSteps(i, t[i]) && s.position == s.goal; });
  }
  bool waitGoalsStill(Ms still, Ms timeout);
  // Goal positions of servo `id` written on the bus since frame `first`.
  std::vector<int> goalsSent(uint8_t id, size_t first) const;
  void enableOverDds();

  std::unique_ptr<servo_sim::ServoBusSim> bus_;
  std::unique_ptr<arm_test::ChildProcess> controller_;

 private:
  void stopController();
  int port_lock_fd_ = -1;
};

// One framed request on the call server; false when no reply frame came.
bool callServer(server_test::LoopbackClient& client, const std::string& request, std::string* reply,
                Ms timeout = Ms(5000));

}  // namespace e2e
