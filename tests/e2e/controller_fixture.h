// The real arm_controller on the simulated servo bus, driven over DDS and TCP.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "arm_build_config.h"
#include "child_process.h"
#include "cloud/robot_ping.pb.h"
#include "loopback_client.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_init.h"
#include "sensor_msgs/msg/joint_state.hpp"
#include "servo_sim/servo_bus_sim.h"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "stdout_capture.h"

namespace e2e {

using Ms = std::chrono::milliseconds;
using arm_test::waitUntil;
using server_test::LoopbackClient;
using BoolMsg = std_msgs::msg::Bool;
using TextMsg = std_msgs::msg::String;
using ArrayMsg = std_msgs::msg::Float64MultiArray;

constexpr int kCallPort = 8007;
constexpr int kStreamPort = 8006;
constexpr int kAxes = 6;
constexpr const char* kArrived = "plan and curpos arrives goal";
constexpr const char* kArmId = "7c3e9b12-4a6f-4d0e-9b85-e21f6c4a8d07";
// Which servos the controller drives mirrored (axes 1, 4 and 6).
constexpr bool kReversed[kAxes] = {true, false, false, true, false, true};
constexpr double kPi = 3.14159265358979;

// Goal steps the servo of `axis` is sent for joint value `rad`.
inline int goalSteps(int axis, double rad) {
  const double deg = rad * 180.0 / kPi;
  return static_cast<int>(((kReversed[axis] ? -deg : deg) + 180.0) * 4096.0 / 360.0);
}

// What the operator last saw of the arm over DDS.
struct TopicState {
  long joint_count = 0;
  std::vector<double> joints, pose;
  bool enabled = false;
};

// One per test program, made before the first controller so its writers match in time.
struct Operator {
  std::shared_ptr<rclcpp::Node> node;
  std::map<std::string, rclcpp::PublisherBase::SharedPtr> writers;
  std::vector<rclcpp::SubscriptionBase::SharedPtr> subs;
  std::thread spinner;
  std::mutex mutex;
  TopicState state;

  Operator() {
    arm_test::initRosOnce();
    node = std::make_shared<rclcpp::Node>("e2e_operator");
    for (auto t : {"serve_on_topic", "recover_topic"}) writers[t] = node->create_publisher<BoolMsg>(t, 10);
    for (auto t : {"stop_topic", "set_home_topic"}) writers[t] = node->create_publisher<TextMsg>(t, 10);
    for (auto t : {"movj_topic", "movj_s_topic"}) writers[t] = node->create_publisher<ArrayMsg>(t, 10);
    watch<sensor_msgs::msg::JointState>(
        "A_arm_joint_pos_topic", [this](const auto& m) { state.joints = m.position, ++state.joint_count; });
    watch<ArrayMsg>("A_arm_tcp_posture_topic", [this](const auto& m) { state.pose = m.data; });
    watch<BoolMsg>("A_arm_motor_enable_topic", [this](const auto& m) { state.enabled = m.data; });
    spinner = std::thread([n = node] { rclcpp::spin(n); });
  }
  ~Operator() {
    rclcpp::shutdown();
    spinner.join();
  }
  template <class Msg, class Keep>
  void watch(const char* topic, Keep keep) {
    subs.push_back(node->create_subscription<Msg>(topic, 10, [this, keep](const Msg& m) {
      std::lock_guard<std::mutex> lock(mutex);
      keep(m);
    }));
  }
};

// Ended at exit, before the ROS 2 layer it started.
inline Operator& op() {
  static Operator the;
  return the;
}

inline TopicState topics() {
  std::lock_guard<std::mutex> lock(op().mutex);
  return op().state;
}
// A command; a Float64MultiArray gets a layout dimension of each size in `dims`.
template <class Msg>
void publish(const std::string& topic, decltype(Msg::data) data, std::vector<uint32_t> dims = {}) {
  Msg m;
  m.data = std::move(data);
  if constexpr (std::is_same_v<Msg, ArrayMsg>)
    for (uint32_t size : dims) m.layout.dim.emplace_back().size = size;
  const auto& writer = op().writers.at(topic);  // sent once it has met the controller's reader
  waitUntil([&] { return writer->get_subscription_count() > 0; }, Ms(30000));
  std::dynamic_pointer_cast<rclcpp::Publisher<Msg>>(writer)->publish(m);
}

// A framed call-server request, and the next reply (empty when none came in time).
inline bool ask(LoopbackClient& call, robot_ping::MainArmClientRequestType type, bool power = false,
                const std::vector<double>& angles = {}) {
  robot_ping::MainArmRequestMsg req;
  req.set_requesttype(type);
  req.set_enablepower(power);
  for (double v : angles) req.mutable_angle()->add_angle(v);
  return call.sendBytes(server_test::frameOf(req.SerializeAsString()));
}
inline robot_ping::MainArmRespMsg reply(LoopbackClient& call, Ms timeout = Ms(20000)) {
  std::string bytes;
  robot_ping::MainArmRespMsg resp;
  if (!call.readFrame(&bytes, timeout) || !resp.ParseFromString(bytes)) resp.Clear();
  return resp;
}

// Each case runs its own bus and controller, whose output is shown when the case fails.
class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Cases run alone, in a network of their own where possible: a listener is a stranger.
    for (const int port : {kCallPort, kStreamPort})
      ASSERT_FALSE(LoopbackClient().connectTo(port, Ms(0)))
          << "127.0.0.1:" << port << " is taken by another process (a running arm_controller?): stop it";
    op();
  }
  void TearDown() override {
    if (!controller_) return;
    // The first SIGTERM only ends the spin; repeat until the process is gone.
    for (int i = 0; i < 50 && controller_->running(); ++i)
      controller_->signal(SIGTERM), controller_->wait(Ms(300));
    EXPECT_FALSE(controller_->running());
    for (const char* report : {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer", "runtime error:"})
      EXPECT_EQ(countInOutput(report), 0u) << report;
    if (HasFailure()) ADD_FAILURE() << "controller output:\n" << output();
  }

  void launch(std::map<std::string, std::string> env = {}) {
    servo_sim::SimOptions options;
    options.link_path = arm_build_config::kServoBusDevice;
    bus_ = std::make_unique<servo_sim::ServoBusSim>(options);
    for (uint8_t id = 1; id <= kAxes; ++id) ASSERT_TRUE(bus_->addServo(id));
    ASSERT_TRUE(bus_->start()) << "cannot link the simulated bus at " << options.link_path;
    env.emplace("ROS_DOMAIN_ID", std::to_string(arm_test::reserveRosDomainId()));
    controller_.reset(new arm_test::ChildProcess({ARM_CONTROLLER_PATH}, env));
  }
  // Bus, controller, and its first joint states over DDS.
  void start() {
    ASSERT_NO_FATAL_FAILURE(launch());
    const long seen = topics().joint_count;
    ASSERT_TRUE(waitUntil([&] { return topics().joint_count > seen + 5; }, Ms(30000))) << "no joint states";
    // It has learnt of our writers (in turn, the spline's last) once it refuses a spline without layout.
    auto refused = [&] { return publish<ArrayMsg>("movj_s_topic", {}), waitForOutput("dim=<0>", Ms(200)); };
    ASSERT_TRUE(waitUntil(refused, Ms(30000))) << "our commands never reach it";
  }

  std::string output() const { return controller_->output(); }
  bool waitForOutput(const std::string& text, Ms timeout = Ms(20000)) const {
    return controller_->waitForOutput(text, timeout);
  }
  size_t countInOutput(const std::string& text) const { return arm_test::countOf(output(), text); }

  template <class Check>
  bool allServos(Check check) const {
    for (int i = 0; i < kAxes; ++i)
      if (!check(i, bus_->servo(static_cast<uint8_t>(i + 1)))) return false;
    return true;
  }
  bool waitTorque(bool on, Ms timeout) const {
    return waitUntil([&] { return allServos([on](int, const auto& s) { return s.torque_on == on; }); },
                     timeout);
  }
  // Servos on their goals for `target`; the joint topic within half a feedback step of them.
  bool waitArrived(const std::vector<double>& target, Ms timeout = Ms(20000)) const {
    auto there = [&] {
      const std::vector<double> joints = topics().joints;
      return joints.size() == target.size() && allServos([&](int i, const servo_sim::ServoSnapshot& s) {
               const double rad = (s.goal * 0.088 - 180.0) * kPi / 180.0;
               return s.goal == goalSteps(i, target[i]) && s.position == s.goal &&
                      std::fabs(joints[i] - (kReversed[i] ? -rad : rad)) <= 0.5 * 0.088 * kPi / 180.0;
             });
    };
    return waitUntil(there, timeout);
  }
  bool waitGoalsStill(Ms still, Ms timeout) const {
    auto goals = [this] {
      std::vector<int> g;
      allServos([&g](int, const auto& s) { return g.push_back(s.goal), true; });
      return g;
    };
    auto unchanged = [&] {
      const std::vector<int> before = goals();
      return std::this_thread::sleep_for(still), goals() == before;
    };
    return waitUntil(unchanged, timeout);
  }
  // The furthest servo `id` strays (steps) from where it stands now, over `span`.
  int strayOver(uint8_t id, Ms span) const {
    const int from = bus_->servo(id).position;
    int furthest = 0;
    auto stray = [&] { return std::abs(bus_->servo(id).position - from); };
    waitUntil([&] { return furthest = std::max(furthest, stray()), false; }, span);
    return furthest;
  }
  void enableOverDds() {
    publish<BoolMsg>("serve_on_topic", true);
    ASSERT_TRUE(waitTorque(true, Ms(30000)));
    ASSERT_TRUE(waitUntil([] { return topics().enabled; }, Ms(30000))) << "enable topic never true";
  }

  std::unique_ptr<servo_sim::ServoBusSim> bus_;
  std::unique_ptr<arm_test::ChildProcess> controller_;
};

}  // namespace e2e
