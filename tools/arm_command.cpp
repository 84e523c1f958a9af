// Commands the running controller from a shell, over its TCP call and stream
// servers or over its ROS 2 topics: what an operator needs to try the arm.
// `arm_command --help` says how; kHelp below is that text.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cloud/robot_ping.pb.h"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "server/wire_frame.h"

namespace {

using namespace std::chrono_literals;

constexpr int kJoints = 6;
constexpr uint16_t kCallPort = 8007;
constexpr uint16_t kStreamPort = 8006;
// A joint move is answered only after the arm arrived: 10 s at least.
constexpr int kReplyTimeoutS = 60;

constexpr const char* kUsage =
    "usage: arm_command tcp on|off | tcp move J1..J6 | tcp state\n"
    "       arm_command ros on|off | ros movj J1..J6 SCALE | ros stop | ros state\n"
    "       arm_command -h|--help\n";

constexpr const char* kHelp =
    "Commands the controller running on this machine.\n"
    "\n"
    "  tcp on|off             servos' torque on or off, through the call server\n"
    "                         (127.0.0.1:8007); answered once the controller confirms it\n"
    "  tcp move J1..J6        move the six joints to these angles, in rad; answered\n"
    "                         once the arm has arrived\n"
    "  tcp state              one frame of the state stream (127.0.0.1:8006)\n"
    "  ros on|off             publish on serve_on_topic\n"
    "  ros movj J1..J6 SCALE  publish on movj_topic: the six joint angles in rad, then\n"
    "                         the velocity scale, in (0, 1], by which the move's joint\n"
    "                         velocity and acceleration limits are multiplied; above 1\n"
    "                         the controller takes 0.5, and 0 or below it refuses\n"
    "                         (the move does not run)\n"
    "  ros stop               publish on stop_topic\n"
    "  ros state              one sample of A_arm_joint_pos_topic and\n"
    "                         A_arm_motor_enable_topic\n"
    "\n"
    "exit status: tcp on|off|move: 0 answered success, 1 answered failure or no answer\n"
    "             tcp state, ros state: 0 state printed, 1 none received\n"
    "             ros on|off|movj|stop: 0 published (a topic carries no reply, so not\n"
    "             known to be taken), 1 controller not seen, nothing published\n"
    "             -h|--help: 0; a usage error: 2\n";

int help() {
  printf("%s\n%s", kUsage, kHelp);
  return 0;
}

// The first line says what was wrong; the whole help would bury it.
int usageError(const std::string& problem) {
  fprintf(stderr, "arm_command: %s\n%sarm_command --help says more.\n", problem.c_str(), kUsage);
  return 2;
}

bool parseNumber(const char* arg, double* value) {
  char* end = nullptr;
  *value = std::strtod(arg, &end);
  return end != arg && *end == '\0';
}

// What is wrong with the command line, or "" when nothing is; its numbers go to values.
std::string usageProblem(int argc, char** argv, std::vector<double>* values) {
  if (argc < 2) return "missing the side: tcp or ros";
  const std::string side = argv[1];
  if (side != "tcp" && side != "ros") return "unknown side '" + side + "': expected tcp or ros";
  const bool tcp = side == "tcp";
  const std::string commands = tcp ? "on, off, move or state" : "on, off, movj, stop or state";
  if (argc < 3) return "missing the command after " + side + ": " + commands;
  const std::string what = argv[2];
  const std::string name = side + " " + what;
  const int given = argc - 3;
  if (what == "on" || what == "off" || what == "state" || (!tcp && what == "stop")) {
    return given == 0 ? "" : name + " takes no values, got " + std::to_string(given);
  }
  const bool movj = !tcp && what == "movj";
  if (!movj && !(tcp && what == "move")) {
    return "unknown command '" + what + "' after " + side + ": expected " + commands;
  }
  const int wanted = kJoints + (movj ? 1 : 0);
  if (given != wanted) {
    return name + " takes " + std::to_string(kJoints) + " joint values (rad)" +
           (movj ? " and a velocity scale" : "") + ", got " + std::to_string(given) + " values";
  }
  for (int i = 0; i < wanted; ++i) {
    const char* arg = argv[3 + i];
    double v = 0.0;
    if (!parseNumber(arg, &v)) {
      const std::string which = i < kJoints ? "joint " + std::to_string(i + 1) : std::string("the velocity scale");
      return name + ": " + which + " '" + arg + "' is not a number";
    }
    values->push_back(v);
  }
  return "";
}

void printJoints(const char* label, const double* values, int count) {
  printf("%s", label);
  for (int i = 0; i < count; ++i) printf(" %.4f", values[i]);
  printf("\n");
}

int connectLoopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{kReplyTimeoutS, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    fprintf(stderr, "127.0.0.1:%u: %s (is the controller running?)\n", port, strerror(errno));
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

bool readFrame(int fd, std::string* payload) {
  unsigned char header[wire_frame::kHeaderSize];
  if (wire_frame::readExact(fd, reinterpret_cast<char*>(header), sizeof header) !=
      wire_frame::ReadStatus::kComplete)
    return false;
  const uint32_t length = wire_frame::decodeLength(header);
  if (length > wire_frame::kMaxPayload) return false;
  payload->assign(length, '\0');
  return length == 0 || wire_frame::readExact(fd, &(*payload)[0], length) == wire_frame::ReadStatus::kComplete;
}

int tcpState() {
  const int fd = connectLoopback(kStreamPort);
  if (fd < 0) return 1;
  std::string payload;
  robot_ping::MainArmStates state;
  const bool ok = readFrame(fd, &payload) && state.ParseFromString(payload);
  close(fd);
  if (!ok) {
    fputs("no state frame from the stream server\n", stderr);
    return 1;
  }
  printJoints("joints (rad):", state.angle().angle().data(), state.angle().angle_size());
  printJoints("pose (mm, deg):", state.pose().data(), state.pose_size());
  printf("enabled: %s\n", state.enablepower() ? "true" : "false");
  return 0;
}

int tcpCall(const robot_ping::MainArmRequestMsg& request) {
  const int fd = connectLoopback(kCallPort);
  if (fd < 0) return 1;
  std::string frame, payload;
  robot_ping::MainArmRespMsg reply;
  const bool ok = wire_frame::buildFrame(request, &frame) &&
                  send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size()) &&
                  readFrame(fd, &payload) && reply.ParseFromString(payload);
  close(fd);
  if (!ok) {
    fputs("no reply from the call server\n", stderr);
    return 1;
  }
  printf("success: %s\n", reply.success() ? "true" : "false");
  return reply.success() ? 0 : 1;
}

int tcp(const std::string& what, const std::vector<double>& joints) {
  robot_ping::MainArmRequestMsg request;
  if (what == "state") return tcpState();
  if (what == "on" || what == "off") {
    request.set_requesttype(robot_ping::PostEnablePower);
    request.set_enablepower(what == "on");
    return tcpCall(request);
  }
  request.set_requesttype(robot_ping::PostJointAngle);
  for (double j : joints) request.mutable_angle()->add_angle(j);
  return tcpCall(request);
}

// Waits until the controller's node is seen, so that what we publish is not
// lost to discovery, then publishes and lingers for the reliable delivery.
int ros(const std::string& what, const std::vector<double>& movj) {
  auto node = std::make_shared<rclcpp::Node>("arm_command");
  std::atomic<bool> seen{false};
  sensor_msgs::msg::JointState joints;
  std::atomic<int> enabled{-1};
  auto joint_sub = node->create_subscription<sensor_msgs::msg::JointState>(
      "A_arm_joint_pos_topic", rclcpp::QoS(10), [&](const sensor_msgs::msg::JointState& m) {
        if (!seen) joints = m;
        seen = true;
      });
  auto enable_sub = node->create_subscription<std_msgs::msg::Bool>(
      "A_arm_motor_enable_topic", rclcpp::QoS(10), [&](const std_msgs::msg::Bool& m) { enabled = m.data; });
  auto serve = node->create_publisher<std_msgs::msg::Bool>("serve_on_topic", rclcpp::QoS(10));
  // The node takes a free text on stop_topic: another type would never match.
  auto stop = node->create_publisher<std_msgs::msg::String>("stop_topic", rclcpp::QoS(10));
  auto move = node->create_publisher<std_msgs::msg::Float64MultiArray>("movj_topic", rclcpp::QoS(10));

  std::thread spinner([node] { rclcpp::spin(node); });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while ((!seen || enabled < 0) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  int status = 0;
  if (!seen) {
    const char* domain = getenv("ROS_DOMAIN_ID");
    fprintf(stderr,
            "robot_cmd_processor not seen on A_arm_joint_pos_topic in 10 s%s: no controller in ROS "
            "domain %s, or its ROS 2 spin has ended (a first Ctrl-C ends it)\n",
            what == "state" ? "" : ", nothing published", domain != nullptr ? domain : "0");
    status = 1;
  } else if (what == "state") {
    printJoints("joints (rad):", joints.position.data(), static_cast<int>(joints.position.size()));
    printf("enabled: %s\n", enabled == 1 ? "true" : "false");
  } else {
    std::this_thread::sleep_for(300ms);  // their reader matches our writer too
    if (what == "movj") {
      std_msgs::msg::Float64MultiArray m;
      m.data = movj;
      move->publish(m);
    } else if (what == "stop") {
      std_msgs::msg::String m;
      m.data = "arm_command";
      stop->publish(m);
    } else {
      std_msgs::msg::Bool m;
      m.data = what == "on";
      serve->publish(m);
    }
    std::this_thread::sleep_for(500ms);
    printf("published on %s; a topic carries no reply: whether the controller took it shows in\n"
           "its output and on its state topics (arm_command ros state)\n",
           what == "movj" ? "movj_topic" : what == "stop" ? "stop_topic" : "serve_on_topic");
  }
  rclcpp::shutdown();
  spinner.join();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return help();
  }
  std::vector<double> values;
  const std::string problem = usageProblem(argc, argv, &values);
  if (!problem.empty()) return usageError(problem);
  const std::string side = argv[1], what = argv[2];
  if (side == "tcp") return tcp(what, values);
  try {
    rclcpp::init(0, nullptr);
  } catch (const std::exception& e) {
    fprintf(stderr, "ROS 2 could not start: %s\n", e.what());
    return 1;
  }
  return ros(what, values);
}
