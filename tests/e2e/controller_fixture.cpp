#include "controller_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

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

// Which servos the controller drives mirrored (axes 1, 4 and 6).
constexpr bool kReversed[kAxes] = {true, false, false, true, false, true};
constexpr double kPi = 3.14159265358979;
constexpr const char* kPortLockPath = "/tmp/arm_controller_ports.lock";

}  // namespace

struct Operator::Impl {
  std::shared_ptr<rclcpp::Node> node;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr serve, recover, grasp;
  rclcpp::Publisher<std_msgs::msg::String>::SharedPtr stop, home, follow;
  rclcpp::Publisher<sensor_msgs::msg::JointState>::SharedPtr b_arm;
  rclcpp::Publisher<std_msgs::msg::Float64MultiArray>::SharedPtr movj, movjs;
  rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr joint_sub;
  rclcpp::Subscription<std_msgs::msg::Float64MultiArray>::SharedPtr pose_sub;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr enable_sub;
  std::thread spinner;
  mutable std::mutex mutex;
  TopicState state;
};

namespace {

// Shuts the operator's participant down when the test program ends.
class OperatorEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (impl_) {
      rclcpp::shutdown();
      if (impl_->spinner.joinable()) impl_->spinner.join();
      impl_.reset();
    }
  }
  static std::shared_ptr<Operator::Impl> impl_;
};
std::shared_ptr<Operator::Impl> OperatorEnvironment::impl_;
::testing::Environment* const kOperatorEnvironment =
    ::testing::AddGlobalTestEnvironment(new OperatorEnvironment);

}  // namespace

Operator& Operator::get() {
  static Operator* op = new Operator();
  return *op;
}

Operator::Operator() : impl_(std::make_shared<Impl>()) {
  arm_test::reserveRosDomainId();
  const char* argv[] = {"e2e_operator"};
  rclcpp::init(1, argv);
  Impl& i = *impl_;
  i.node = std::make_shared<rclcpp::Node>("e2e_operator");
  i.serve = i.node->create_publisher<std_msgs::msg::Bool>("serve_on_topic", rclcpp::QoS(1));
  i.recover = i.node->create_publisher<std_msgs::msg::Bool>("recover_topic", rclcpp::QoS(1));
  i.grasp = i.node->create_publisher<std_msgs::msg::Bool>("grasp_button_topic", rclcpp::QoS(1));
  i.follow = i.node->create_publisher<std_msgs::msg::String>("follow_b_arm_topic", rclcpp::QoS(10));
  i.b_arm = i.node->create_publisher<sensor_msgs::msg::JointState>("B_arm_joint_pos_topic", rclcpp::QoS(10));
  i.stop = i.node->create_publisher<std_msgs::msg::String>("stop_topic", rclcpp::QoS(1));
  i.home = i.node->create_publisher<std_msgs::msg::String>("set_home_topic", rclcpp::QoS(10));
  i.movj = i.node->create_publisher<std_msgs::msg::Float64MultiArray>("movj_topic", rclcpp::QoS(10));
  i.movjs = i.node->create_publisher<std_msgs::msg::Float64MultiArray>("movj_s_topic", rclcpp::QoS(10));
  Impl* raw = impl_.get();
  i.joint_sub = i.node->create_subscription<sensor_msgs::msg::JointState>(
      "A_arm_joint_pos_topic", rclcpp::QoS(10), [raw](const sensor_msgs::msg::JointState& m) {
        std::lock_guard<std::mutex> lock(raw->mutex);
        ++raw->state.joint_count;
        raw->state.joints = m.position;
      });
  i.pose_sub = i.node->create_subscription<std_msgs::msg::Float64MultiArray>(
      "A_arm_tcp_posture_topic", rclcpp::QoS(10), [raw](const std_msgs::msg::Float64MultiArray& m) {
        std::lock_guard<std::mutex> lock(raw->mutex);
        ++raw->state.pose_count;
        raw->state.pose = m.data;
      });
  i.enable_sub = i.node->create_subscription<std_msgs::msg::Bool>(
      "A_arm_motor_enable_topic", rclcpp::QoS(10), [raw](const std_msgs::msg::Bool& m) {
        std::lock_guard<std::mutex> lock(raw->mutex);
        ++raw->state.enable_count;
        raw->state.enabled = m.data;
      });
  std::shared_ptr<rclcpp::Node> node = i.node;
  i.spinner = std::thread([node] { rclcpp::spin(node); });
  OperatorEnvironment::impl_ = impl_;
}

void Operator::serveOn(bool on) {
  std_msgs::msg::Bool m;
  m.data = on;
  impl_->serve->publish(m);
}

void Operator::recover(bool value) {
  std_msgs::msg::Bool m;
  m.data = value;
  impl_->recover->publish(m);
}

void Operator::graspButton(bool pressed) {
  std_msgs::msg::Bool m;
  m.data = pressed;
  impl_->grasp->publish(m);
}

void Operator::bArmJoints(const std::vector<double>& positions) {
  sensor_msgs::msg::JointState m;
  m.position = positions;
  impl_->b_arm->publish(m);
}

void Operator::followBArm(const std::string& text) {
  std_msgs::msg::String m;
  m.data = text;
  impl_->follow->publish(m);
}

void Operator::movj(const std::vector<double>& data) {
  std_msgs::msg::Float64MultiArray m;
  m.data = data;
  impl_->movj->publish(m);
}

void Operator::movjS(const std::vector<std::vector<double>>& points) {
  std_msgs::msg::Float64MultiArray m;
  std_msgs::msg::MultiArrayDimension rows, cols;
  rows.size = static_cast<uint32_t>(points.size());
  cols.size = points.empty() ? 0 : static_cast<uint32_t>(points[0].size());
  m.layout.dim = {rows, cols};
  for (const auto& p : points) m.data.insert(m.data.end(), p.begin(), p.end());
  impl_->movjs->publish(m);
}

void Operator::stop(const std::string& text) {
  std_msgs::msg::String m;
  m.data = text;
  impl_->stop->publish(m);
}

void Operator::setHome(const std::string& text) {
  std_msgs::msg::String m;
  m.data = text;
  impl_->home->publish(m);
}

TopicState Operator::state() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->state;
}

bool Operator::waitFor(const std::function<bool(const TopicState&)>& done, Ms timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (done(state())) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Ms(5));
  }
}

int goalSteps(int axis, double rad) {
  const double deg = rad * 180.0 / kPi;
  const double signed_deg = kReversed[axis] ? -deg : deg;
  return static_cast<int>((signed_deg + 180.0) * 4096.0 / 360.0);
}

double settledReading(int axis, double rad) {
  const double deg = goalSteps(axis, rad) * 0.088 - 180.0;
  return (kReversed[axis] ? -deg : deg) * kPi / 180.0;
}

::testing::AssertionResult portsFree() {
  for (int port : {kCallPort, kStreamPort}) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    const int err = errno;
    close(fd);
    if (!ok) {
      return ::testing::AssertionFailure()
             << "127.0.0.1:" << port << " is taken (" << strerror(err)
             << "); another arm_controller or test is running. End it and run again.";
    }
  }
  return ::testing::AssertionSuccess();
}

void ControllerTest::SetUp() {
  // On the machine's own loopback the ports are shared by everyone: test
  // runs in other build trees queue on one lock file, and anything else must
  // let go in time. In a network namespace of our own they are ours.
  const char* own_network = getenv("ARM_E2E_OWN_NETWORK");
  if (own_network == nullptr || std::string(own_network) != "1") {
    port_lock_fd_ = open(kPortLockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(port_lock_fd_, 0) << kPortLockPath << ": " << strerror(errno);
    const auto lock_deadline = Clock::now() + Ms(240000);
    while (flock(port_lock_fd_, LOCK_EX | LOCK_NB) != 0) {
      ASSERT_LT(Clock::now(), lock_deadline) << "another controller test holds " << kPortLockPath;
      std::this_thread::sleep_for(Ms(50));
    }
  }
  const auto port_deadline = Clock::now() + Ms(120000);
  while (!portsFree() && Clock::now() < port_deadline) std::this_thread::sleep_for(Ms(100));
  ASSERT_TRUE(portsFree());
  Operator::get();
  domain_id_ = arm_test::reserveRosDomainId();
}

void ControllerTest::TearDown() {
  stopController();
  if (bus_) bus_->stop();
  if (port_lock_fd_ >= 0) close(port_lock_fd_);
  port_lock_fd_ = -1;
}

void ControllerTest::startBus() {
  servo_sim::SimOptions options;
  options.link_path = arm_build_config::kServoBusDevice;
  bus_ = std::make_unique<servo_sim::ServoBusSim>(options);
  for (uint8_t id = 1; id <= kAxes; ++id) ASSERT_TRUE(bus_->addServo(id));
  ASSERT_TRUE(bus_->start()) << "cannot link the simulated bus at " << options.link_path;
}

void ControllerTest::startController() {
  controller_ = std::make_unique<arm_test::ChildProcess>(
      std::vector<std::string>{ARM_CONTROLLER_PATH},
      std::map<std::string, std::string>{{"ROS_DOMAIN_ID", std::to_string(domain_id_)}});
  const auto deadline = Clock::now() + Ms(30000);
  while (output().find("---robot_cmd_processor node init. ---") == std::string::npos) {
    ASSERT_TRUE(controller_->running()) << "controller ended during start-up:\n" << output();
    ASSERT_LT(Clock::now(), deadline) << "controller did not come up:\n" << output();
    std::this_thread::sleep_for(Ms(20));
  }
  const long seen = Operator::get().state().joint_count;
  ASSERT_TRUE(Operator::get().waitFor([seen](const TopicState& s) { return s.joint_count > seen + 5; },
                                      Ms(20000)))
      << "no joint state from the controller over DDS";
  // Its readers of our command topics match together with its writers; give
  // the reliable handshake a moment before the first command.
  std::this_thread::sleep_for(Ms(500));
}

void ControllerTest::stopController() {
  if (!controller_) return;
  const auto deadline = Clock::now() + Ms(15000);
  while (controller_->running() && Clock::now() < deadline) {
    controller_->signal(SIGTERM);
    controller_->wait(Ms(300));
  }
  if (controller_->running()) {
    ADD_FAILURE() << "controller did not end on repeated SIGTERM";
    controller_->signal(SIGKILL);
    controller_->wait(Ms(5000));
  }
  const std::string out = output();
  EXPECT_EQ(out.find("ERROR: AddressSanitizer"), std::string::npos) << out;
  EXPECT_EQ(out.find("WARNING: ThreadSanitizer"), std::string::npos) << out;
  EXPECT_EQ(out.find("runtime error:"), std::string::npos) << out;
  controller_.reset();
}

bool ControllerTest::waitForOutput(const std::string& text, Ms timeout) const {
  return controller_ && controller_->waitForOutput(text, timeout);
}

size_t ControllerTest::countInOutput(const std::string& text) const {
  const std::string out = output();
  size_t n = 0;
  for (size_t pos = out.find(text); pos != std::string::npos; pos = out.find(text, pos + 1)) ++n;
  return n;
}

bool ControllerTest::waitJointsSettled(const std::vector<double>& target, Ms timeout) {
  return Operator::get().waitFor(
      [&target](const TopicState& s) {
        if (s.joints.size() != target.size()) return false;
        for (size_t i = 0; i < target.size(); ++i) {
          if (std::fabs(s.joints[i] - settledReading(static_cast<int>(i), target[i])) > kBusStep * 0.5) {
            return false;
          }
        }
        return true;
      },
      timeout);
}

bool ControllerTest::waitTorque(bool on, Ms timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    bool all = true;
    for (uint8_t id = 1; id <= kAxes; ++id) all = all && bus_->servo(id).torque_on == on;
    if (all) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Ms(5));
  }
}

bool ControllerTest::waitGoalsStill(Ms still, Ms timeout) {
  auto goals = [this]() {
    std::vector<int> g;
    for (uint8_t id = 1; id <= kAxes; ++id) g.push_back(bus_->servo(id).goal);
    return g;
  };
  const auto deadline = Clock::now() + timeout;
  std::vector<int> last = goals();
  auto since = Clock::now();
  while (Clock::now() < deadline) {
    std::this_thread::sleep_for(Ms(10));
    std::vector<int> now = goals();
    if (now != last) {
      last = now;
      since = Clock::now();
    } else if (Clock::now() - since >= still) {
      return true;
    }
  }
  return false;
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
  Operator::get().serveOn(true);
  ASSERT_TRUE(Operator::get().waitFor([](const TopicState& s) { return s.enabled; }, Ms(10000)))
      << "enable topic never showed true:\n" << output();
}

bool callServer(server_test::LoopbackClient& client, const std::string& request,
                std::string* reply, Ms timeout) {
  if (!client.sendBytes(server_test::frameOf(request))) return false;
  return client.readFrame(reply, timeout);
}

}  // namespace e2e
