#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "cloud/robot_ping.pb.h"
#include "loopback_client.h"
#include "servo_sim/servo_bus_sim.h"

namespace e2e {

using Ms = std::chrono::milliseconds;
using server_test::LoopbackClient;

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

// What the operator's DDS participant (in this process) last saw of the arm.
struct TopicState {
  long joint_count = 0;
  std::vector<double> joints, pose;
  bool enabled = false;
};
TopicState topics();

void publishFlag(const std::string& topic, bool value);
void publishText(const std::string& topic, const std::string& text);
// A Float64MultiArray with one layout dimension of each given size.
void publishArray(const std::string& topic, std::vector<double> data, std::vector<uint32_t> dims = {});

// Goal steps the servo of `axis` is sent for joint value `rad`.
int goalSteps(int axis, double rad);

// A framed call-server request, and the next reply (empty when none came in time).
bool ask(LoopbackClient& call, robot_ping::MainArmClientRequestType type, bool power = false,
         const std::vector<double>& angles = {});
robot_ping::MainArmRespMsg reply(LoopbackClient& call, Ms timeout = Ms(5000));

// The real controller process on the simulated servo bus; its output is
// shown when a case fails.
class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void startBus();
  void launch(std::map<std::string, std::string> env = {});
  // Bus, controller, and its first joint states over DDS.
  void start();

  std::string output() const { return controller_->output(); }
  bool waitForOutput(const std::string& text, Ms timeout = Ms(20000)) const {
    return controller_->waitForOutput(text, timeout);
  }
  size_t countInOutput(const std::string& text) const;

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
  // Every servo stands on its goal for `target`, and the joint topic shows
  // what the controller reads there.
  bool waitArrived(const std::vector<double>& target, Ms timeout = Ms(5000)) const;
  bool waitGoalsStill(Ms still, Ms timeout) const;
  void enableOverDds();

  std::unique_ptr<servo_sim::ServoBusSim> bus_;
  std::unique_ptr<arm_test::ChildProcess> controller_;
};

}  // namespace e2e
