#include "controller_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
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

using Clock = std::chrono::steady_clock;
using BoolMsg = std_msgs::msg::Bool;
using TextMsg = std_msgs::msg::String;
using ArrayMsg = std_msgs::msg::Float64MultiArray;

// Which servos the controller drives mirrored (axes 1, 4 and 6).
constexpr bool kReversed[kAxes] = {true, false, false, true, false, true};
constexpr double kPi = 3.14159265358979;
// One feedback step in radians: the finest the bus can tell apart.
constexpr double kBusStep = 0.088 * kPi / 180.0;

// One DDS participant per test program, created before the first
// controller so its publishers are matched by the time commands go out.
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
      flags[t] = node->create_publisher<BoolMsg>(t, 1);
    for (const char* t : {"stop_topic", "set_home_topic"}) texts[t] = node->create_publisher<TextMsg>(t, 10);
    for (const char* t : {"movj_topic", "movj_s_topic"}) arrays[t] = node->create_publisher<ArrayMsg>(t, 10);
    subs.push_back(node->create_subscription<sensor_msgs::msg::JointState>(
        "A_arm_joint_pos_topic", 10, [this](const sensor_msgs::msg::JointState& m) {
          std::lock_guard<std::mutex> lock(mutex);
          ++state.joint_count;
          state.joints = m.position;
        }));
    subs.push_back(
        node->create_subscription<ArrayMsg>("A_arm_tcp_posture_topic", 10, [this](const ArrayMsg& m) {
          std::lock_guard<std::mutex> lock(mutex);
          state.pose = m.data;
        }));
    subs.push_back(
        node->create_subscription<BoolMsg>("A_arm_motor_enable_topic", 10, [this](const BoolMsg& m) {
          std::lock_guard<std::mutex> lock(mutex);
          state.enabled = m.data;
        }));
    spinner = std::thread([n = node] { rclcpp::spin(n); });
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

double settledReading(int axis, double rad) {
  const double deg = goalSteps(axis, rad) * 0.088 - 180.0;
  return (kReversed[axis] ? -deg : deg) * kPi / 180.0;
}

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

void publishMovj(const std::vector<double>& joints_then_scale) {
  ArrayMsg m;
  m.data = joints_then_scale;
  op().arrays.at("movj_topic")->publish(m);
}

void publishMovjS(const std::vector<std::vector<double>>& points) {
  ArrayMsg m;
  m.layout.dim.resize(2);
  m.layout.dim[0].size = static_cast<uint32_t>(points.size());
  m.layout.dim[1].size = points.empty() ? 0 : static_cast<uint32_t>(points[0].size());
  for (const auto& p : points) m.data.insert(m.data.end(), p.begin(), p.end());
  op().arrays.at("movj_s_topic")->publish(m);
}

int goalSteps(int axis, double rad) {
  const double deg = rad * 180.0 / kPi;
  return static_cast<int>(((kReversed[axis] ? -deg : deg) + 180.0) * 4096.0 / 360.0);
}

void ControllerTest::SetUp() {
  // On the machine's own loopback the fixed ports are shared: test runs in
  // other build trees queue on one lock file. In a namespace of our own they are ours.
  const char* own_network = getenv("ARM_E2E_OWN_NETWORK");
  if (own_network == nullptr || std::string(own_network) != "1") {
    const char* path = "/tmp/arm_controller_ports.lock";
    port_lock_fd_ = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(port_lock_fd_, 0) << path << ": " << strerror(errno);
    ASSERT_TRUE(waitUntil([this] { return flock(port_lock_fd_, LOCK_EX | LOCK_NB) == 0; }, Ms(240000)))
        << "another controller test holds " << path;
  }
  // With the lock held nothing of ours listens there, so a listener is
  // someone else's and will not go away by waiting.
  for (const int port : {kCallPort, kStreamPort}) {
    server_test::LoopbackClient probe;
    ASSERT_FALSE(probe.connectTo(port, Ms(0)))
        << "127.0.0.1:" << port << " is taken by another process (a running arm_controller?) and this "
        << "machine gives the test no network namespace of its own: stop it and run again";
  }
  op();
}

void ControllerTest::TearDown() {
  stopController();
  if (bus_) bus_->stop();
  if (port_lock_fd_ >= 0) close(port_lock_fd_);
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
  waitUntil([&] { return topics().joint_count > seen + 5 || !controller_->running(); }, Ms(30000));
  ASSERT_TRUE(controller_->running()) << "controller ended during start-up:\n" << output();
  ASSERT_GT(topics().joint_count, seen + 5) << "no joint state from the controller over DDS:\n" << output();
  // Its readers of our command topics match together with its writers; give
  // the reliable handshake a moment before the first command.
  std::this_thread::sleep_for(Ms(500));
}

void ControllerTest::stopController() {
  if (!controller_) return;
  // The first SIGTERM only ends the spin; repeat until the process is gone
  // (past the time-out the destructor kills it).
  EXPECT_TRUE(waitUntil(
      [this] {
        controller_->signal(SIGTERM);
        return controller_->wait(Ms(300)) != -1;
      },
      Ms(15000)))
      << "controller did not end on repeated SIGTERM";
  for (const char* report : {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer", "runtime error:"}) {
    EXPECT_EQ(countInOutput(report), 0u) << output();
  }
  controller_.reset();
}

size_t ControllerTest::countInOutput(const std::string& text) const {
  const std::string out = output();
  size_t n = 0;
  for (size_t pos = out.find(text); pos != std::string::npos; pos = out.find(text, pos + 1)) ++n;
  return n;
}

bool ControllerTest::waitJointsSettled(const std::vector<double>& target, Ms timeout) {
  return waitUntil(
      [&target] {
        const TopicState s = topics();
        if (s.joints.size() != target.size()) return false;
        for (size_t i = 0; i < target.size(); ++i) {
          if (std::fabs(s.joints[i] - settledReading(static_cast<int>(i), target[i])) > kBusStep * 0.5)
            return false;
        }
        return true;
      },
      timeout);
}

bool ControllerTest::waitGoalsStill(Ms still, Ms timeout) {
  std::vector<int> last;
  auto since = Clock::now();
  return waitUntil(
      [&] {
        std::vector<int> now;
        allServos([&now](int, const auto& s) {
          now.push_back(s.goal);
          return true;
        });
        if (now != last) {
          last = now;
          since = Clock::now();
        }
        return Clock::now() - since >= still;
      },
      timeout);
}

std::vector<int> ControllerTest::goalsSent(uint8_t id, size_t first) const {
  std::vector<int> goals;
  for (const auto& f : bus_->framesFrom(first)) {
    // Registered write from the acceleration register: acc, goal low, goal high, ...
    if (f.id == id && f.instruction == servo_sim::kInstRegWrite && f.params.size() >= 4 &&
        f.params[0] == servo_sim::kRegAcceleration) {
      const int raw = f.params[2] | (f.params[3] << 8);
      goals.push_back((raw & 0x8000) ? -(raw & 0x7FFF) : raw);
    }
  }
  return goals;
}

void ControllerTest::enableOverDds() {
  publishFlag("serve_on_topic", true);
  ASSERT_TRUE(waitTorque(true, Ms(10000))) << output();
  ASSERT_TRUE(waitUntil([] { return topics().enabled; }, Ms(10000))) << "enable topic never true:\n"
                                                                     << output();
}

bool callServer(server_test::LoopbackClient& client, const std::string& request, std::string* reply,
                Ms timeout) {
  return client.sendBytes(server_test::frameOf(request)) && client.readFrame(reply, timeout);
}

}  // namespace e2e
