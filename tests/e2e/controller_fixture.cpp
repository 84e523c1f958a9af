#include "controller_fixture.h"

#include <signal.h>

#include <cmath>
#include <iostream>
#include <mutex>

#include "arm_build_config.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/string.hpp"

namespace e2e {

namespace {

using BoolMsg = std_msgs::msg::Bool;
using TextMsg = std_msgs::msg::String;
using ArrayMsg = std_msgs::msg::Float64MultiArray;

// Which servos the controller drives mirrored (axes 1, 4 and 6).
constexpr bool kReversed[kAxes] = {true, false, false, true, false, true};
constexpr double kPi = 3.14159265358979;
// One feedback step in radians: the finest the bus can tell apart.
constexpr double kBusStep = 0.088 * kPi / 180.0;

// One DDS participant per test program, created before the first
// controller so its writers are matched by the time commands go out.
struct Operator {
  std::shared_ptr<rclcpp::Node> node;
  std::map<std::string, rclcpp::Publisher<BoolMsg>::SharedPtr> flags;
  std::map<std::string, rclcpp::Publisher<TextMsg>::SharedPtr> texts;
  std::map<std::string, rclcpp::Publisher<ArrayMsg>::SharedPtr> arrays;
  std::vector<rclcpp::SubscriptionBase::SharedPtr> subs;
  std::thread spinner;
  std::mutex mutex;
  TopicState state;

  Operator() {
    arm_test::reserveRosDomainId();
    rclcpp::init(0, nullptr);
    node = std::make_shared<rclcpp::Node>("e2e_operator");
    for (const char* t : {"serve_on_topic", "recover_topic"})
      flags[t] = node->create_publisher<BoolMsg>(t, 10);
    for (const char* t : {"stop_topic", "set_home_topic"}) texts[t] = node->create_publisher<TextMsg>(t, 10);
    for (const char* t : {"movj_topic", "movj_s_topic"}) arrays[t] = node->create_publisher<ArrayMsg>(t, 10);
    watch<sensor_msgs::msg::JointState>("A_arm_joint_pos_topic", [this](const auto& m) {
      ++state.joint_count;
      state.joints = m.position;
    });
    watch<ArrayMsg>("A_arm_tcp_posture_topic", [this](const auto& m) { state.pose = m.data; });
    watch<BoolMsg>("A_arm_motor_enable_topic", [this](const auto& m) { state.enabled = m.data; });
    spinner = std::thread([n = node] { rclcpp::spin(n); });
  }
  template <class Msg, class Keep>
  void watch(const char* topic, Keep keep) {
    subs.push_back(node->create_subscription<Msg>(topic, 10, [this, keep](const Msg& m) {
      std::lock_guard<std::mutex> lock(mutex);
      keep(m);
    }));
  }
};

std::unique_ptr<Operator> g_operator;

Operator& op() {
  if (!g_operator) g_operator = std::make_unique<Operator>();
  return *g_operator;
}

// Shuts the participant down when the test program ends.
class OperatorEnvironment : public ::testing::Environment {
  void TearDown() override {
    if (!g_operator) return;
    rclcpp::shutdown();
    g_operator->spinner.join();
    g_operator.reset();
  }
};
::testing::Environment* const kOperatorEnvironment =
    ::testing::AddGlobalTestEnvironment(new OperatorEnvironment);

}  // namespace

TopicState topics() {
  std::lock_guard<std::mutex> lock(op().mutex);
  return op().state;
}

void publishFlag(const std::string& topic, bool value) {
  BoolMsg m;
  m.data = value;
  op().flags.at(topic)->publish(m);
}

void publishText(const std::string& topic, const std::string& text) {
  TextMsg m;
  m.data = text;
  op().texts.at(topic)->publish(m);
}

void publishArray(const std::string& topic, std::vector<double> data, std::vector<uint32_t> dims) {
  ArrayMsg m;
  m.data = std::move(data);
  m.layout.dim.resize(dims.size());
  for (size_t i = 0; i < dims.size(); ++i) m.layout.dim[i].size = dims[i];
  op().arrays.at(topic)->publish(m);
}

int goalSteps(int axis, double rad) {
  const double deg = rad * 180.0 / kPi;
  return static_cast<int>(((kReversed[axis] ? -deg : deg) + 180.0) * 4096.0 / 360.0);
}

bool ask(LoopbackClient& call, robot_ping::MainArmClientRequestType type, bool power,
         const std::vector<double>& angles) {
  robot_ping::MainArmRequestMsg req;
  req.set_requesttype(type);
  req.set_enablepower(power);
  for (double v : angles) req.mutable_angle()->add_angle(v);
  return call.sendBytes(server_test::frameOf(req.SerializeAsString()));
}

robot_ping::MainArmRespMsg reply(LoopbackClient& call, Ms timeout) {
  std::string bytes;
  robot_ping::MainArmRespMsg resp;
  if (!call.readFrame(&bytes, timeout) || !resp.ParseFromString(bytes)) resp.Clear();
  return resp;
}

void ControllerTest::SetUp() {
  // A case runs alone, in a network of its own where the machine allows, so
  // a listener here is someone else's and will not go away by waiting.
  for (const int port : {kCallPort, kStreamPort}) {
    LoopbackClient probe;
    ASSERT_FALSE(probe.connectTo(port, Ms(0)))
        << "127.0.0.1:" << port << " is taken by another process (a running arm_controller?): stop it";
  }
  op();
}

void ControllerTest::TearDown() {
  if (controller_) {
    // The first SIGTERM only ends the spin; repeat until the process is gone.
    EXPECT_TRUE(waitUntil(
        [this] {
          controller_->signal(SIGTERM);
          return controller_->wait(Ms(300)) != -1;
        },
        Ms(15000)));
    for (const char* report : {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer", "runtime error:"})
      EXPECT_EQ(countInOutput(report), 0u) << report;
    if (HasFailure()) std::cout << "controller output:\n" << output();
    controller_.reset();
  }
  if (bus_) bus_->stop();
}

void ControllerTest::startBus() {
  servo_sim::SimOptions options;
  options.link_path = arm_build_config::kServoBusDevice;
  bus_ = std::make_unique<servo_sim::ServoBusSim>(options);
  for (uint8_t id = 1; id <= kAxes; ++id) ASSERT_TRUE(bus_->addServo(id));
  ASSERT_TRUE(bus_->start()) << "cannot link the simulated bus at " << options.link_path;
}

void ControllerTest::launch(std::map<std::string, std::string> env) {
  env.emplace("ROS_DOMAIN_ID", std::to_string(arm_test::reserveRosDomainId()));
  controller_ = std::make_unique<arm_test::ChildProcess>(std::vector<std::string>{ARM_CONTROLLER_PATH}, env);
}

void ControllerTest::start() {
  ASSERT_NO_FATAL_FAILURE(startBus());
  launch();
  const long seen = topics().joint_count;
  ASSERT_TRUE(
      waitUntil([&] { return topics().joint_count > seen + 5 || !controller_->running(); }, Ms(30000)) &&
      controller_->running())
      << "no joint states from the controller over DDS";
  // Its readers of our command topics match together with its writers; give
  // the reliable handshake a moment before the first command.
  std::this_thread::sleep_for(Ms(500));
}

size_t ControllerTest::countInOutput(const std::string& text) const {
  const std::string out = controller_->output();
  size_t n = 0;
  for (size_t pos = out.find(text); pos != std::string::npos; pos = out.find(text, pos + 1)) ++n;
  return n;
}

bool ControllerTest::waitArrived(const std::vector<double>& target, Ms timeout) const {
  return waitUntil(
      [&] {
        const std::vector<double> joints = topics().joints;
        return joints.size() == target.size() && allServos([&](int i, const servo_sim::ServoSnapshot& s) {
                 const double deg = s.goal * 0.088 - 180.0;
                 const double reading = (kReversed[i] ? -deg : deg) * kPi / 180.0;
                 return s.goal == goalSteps(i, target[i]) && s.position == s.goal &&
                        std::fabs(joints[i] - reading) <= kBusStep * 0.5;
               });
      },
      timeout);
}

bool ControllerTest::waitGoalsStill(Ms still, Ms timeout) const {
  std::vector<int> last;
  auto since = std::chrono::steady_clock::now();
  return waitUntil(
      [&] {
        std::vector<int> goals;
        for (uint8_t id = 1; id <= kAxes; ++id) goals.push_back(bus_->servo(id).goal);
        if (goals != last) {
          last = goals;
          since = std::chrono::steady_clock::now();
        }
        return std::chrono::steady_clock::now() - since >= still;
      },
      timeout);
}

void ControllerTest::enableOverDds() {
  publishFlag("serve_on_topic", true);
  ASSERT_TRUE(waitTorque(true, Ms(10000)));
  ASSERT_TRUE(waitUntil([] { return topics().enabled; }, Ms(10000))) << "enable topic never true";
}

}  // namespace e2e
