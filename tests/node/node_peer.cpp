// A second DDS participant that drives "robot_cmd_processor" the way an
// operator's tools would: it publishes commands and watches the state topics.
//
// Usage: node_peer <step>...   steps run in order:
//   wait_node                 wait for the node's joint topic and its readers
//   movj V,V,...              movj_topic data
//   movjs DIMS V,V,...        movj_s_topic; DIMS is "P,C", "P" or "-" (no dims)
//   stop TEXT | home TEXT | follow TEXT | test TEXT
//   serve 0|1 | recover 0|1 | grasp 0|1
//   barm V,V,...              B_arm_joint_pos_topic positions
//   listen MS                 record the state topics for MS milliseconds
//   sleep MS
//   pace MS                   pause after every later publish (readers keep
//                             only their last 10 samples)
// Exit status 0, or 2 when the node never showed up.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/string.hpp"

namespace {

using namespace std::chrono_literals;

std::vector<double> parseList(const std::string& text) {
  std::vector<double> out;
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    out.push_back(std::strtod(item.c_str(), nullptr));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

class Peer : public rclcpp::Node {
 public:
  Peer() : rclcpp::Node("node_test_peer") {
    movj_ = create_publisher<std_msgs::msg::Float64MultiArray>("movj_topic", rclcpp::QoS(10));
    movjs_ = create_publisher<std_msgs::msg::Float64MultiArray>("movj_s_topic", rclcpp::QoS(10));
    stop_ = create_publisher<std_msgs::msg::String>("stop_topic", rclcpp::QoS(1));
    home_ = create_publisher<std_msgs::msg::String>("set_home_topic", rclcpp::QoS(10));
    follow_ = create_publisher<std_msgs::msg::String>("follow_b_arm_topic", rclcpp::QoS(10));
    test_ = create_publisher<std_msgs::msg::String>("test_topic", rclcpp::QoS(10));
    serve_ = create_publisher<std_msgs::msg::Bool>("serve_on_topic", rclcpp::QoS(1));
    recover_ = create_publisher<std_msgs::msg::Bool>("recover_topic", rclcpp::QoS(1));
    grasp_ = create_publisher<std_msgs::msg::Bool>("grasp_button_topic", rclcpp::QoS(1));
    barm_ = create_publisher<sensor_msgs::msg::JointState>("B_arm_joint_pos_topic", rclcpp::QoS(10));
    joint_sub_ = create_subscription<sensor_msgs::msg::JointState>(
        "A_arm_joint_pos_topic", rclcpp::QoS(10),
        [this](const sensor_msgs::msg::JointState& m) {
          std::lock_guard<std::mutex> lock(mutex_);
          ++joint_count_;
          last_joint_ = m;
        });
    pose_sub_ = create_subscription<std_msgs::msg::Float64MultiArray>(
        "A_arm_tcp_posture_topic", rclcpp::QoS(10),
        [this](const std_msgs::msg::Float64MultiArray& m) {
          std::lock_guard<std::mutex> lock(mutex_);
          ++pose_count_;
          last_pose_ = m;
        });
    enable_sub_ = create_subscription<std_msgs::msg::Bool>(
        "A_arm_motor_enable_topic", rclcpp::QoS(10), [this](const std_msgs::msg::Bool& m) {
          std::lock_guard<std::mutex> lock(mutex_);
          ++enable_count_;
          last_enable_ = m.data;
        });
  }

  // The node's timer proves that both participants know each other; the
  // node's readers of our topics were announced with its writer, so a short
  // settle covers their matching (the layer offers no match count).
  bool waitNode() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (joint_count_ > 0) break;
      }
      std::this_thread::sleep_for(5ms);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (joint_count_ == 0) return false;
    }
    std::this_thread::sleep_for(300ms);
    return true;
  }

  void listen(int ms) {
    long j0, p0, e0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      j0 = joint_count_;
      p0 = pose_count_;
      e0 = enable_count_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::lock_guard<std::mutex> lock(mutex_);
    printf("listen joint=%ld pose=%ld enable=%ld\n", joint_count_ - j0, pose_count_ - p0,
           enable_count_ - e0);
    printf("joint frame_id=[%s] stamp=%d.%09u names=", last_joint_.header.frame_id.c_str(),
           last_joint_.header.stamp.sec, last_joint_.header.stamp.nanosec);
    for (const auto& n : last_joint_.name) printf("%s;", n.c_str());
    printf(" positions=");
    for (double v : last_joint_.position) printf("%.17g;", v);
    printf(" velocity=%zu effort=%zu\n", last_joint_.velocity.size(), last_joint_.effort.size());
    printf("pose dims=%zu data=", last_pose_.layout.dim.size());
    for (double v : last_pose_.data) printf("%.17g;", v);
    printf("\nenable=%d\n", last_enable_ ? 1 : 0);
    fflush(stdout);
  }

  bool step(const std::vector<std::string>& args, size_t* i) {
    const std::string& cmd = args[(*i)++];
    auto arg = [&]() -> std::string { return *i < args.size() ? args[(*i)++] : std::string(); };
    if (cmd == "wait_node") {
      if (!waitNode()) return false;
    } else if (cmd == "movj") {
      std_msgs::msg::Float64MultiArray m;
      m.data = parseList(arg());
      movj_->publish(m);
    } else if (cmd == "movjs") {
      std_msgs::msg::Float64MultiArray m;
      std::string dims = arg();
      if (dims != "-") {
        for (double d : parseList(dims)) {
          std_msgs::msg::MultiArrayDimension dim;
          dim.size = static_cast<uint32_t>(static_cast<int64_t>(d));
          m.layout.dim.push_back(dim);
        }
      }
      m.data = parseList(arg());
      movjs_->publish(m);
    } else if (cmd == "stop" || cmd == "home" || cmd == "follow" || cmd == "test") {
      std_msgs::msg::String m;
      m.data = arg();
      (cmd == "stop" ? stop_ : cmd == "home" ? home_ : cmd == "follow" ? follow_ : test_)->publish(m);
    } else if (cmd == "serve" || cmd == "recover" || cmd == "grasp") {
      std_msgs::msg::Bool m;
      m.data = arg() == "1";
      (cmd == "serve" ? serve_ : cmd == "recover" ? recover_ : grasp_)->publish(m);
    } else if (cmd == "barm") {
      sensor_msgs::msg::JointState m;
      m.position = parseList(arg());
      barm_->publish(m);
    } else if (cmd == "listen") {
      listen(std::atoi(arg().c_str()));
    } else if (cmd == "pace") {
      pace_ms_ = std::atoi(arg().c_str());
      return true;
    } else if (cmd == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(arg().c_str())));
    } else {
      fprintf(stderr, "unknown step %s\n", cmd.c_str());
      return false;
    }
    if (pace_ms_ > 0 && cmd != "listen" && cmd != "wait_node") {
      std::this_thread::sleep_for(std::chrono::milliseconds(pace_ms_));
    }
    return true;
  }

 private:
  rclcpp::Publisher<std_msgs::msg::Float64MultiArray>::SharedPtr movj_, movjs_;
  rclcpp::Publisher<std_msgs::msg::String>::SharedPtr stop_, home_, follow_, test_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr serve_, recover_, grasp_;
  rclcpp::Publisher<sensor_msgs::msg::JointState>::SharedPtr barm_;
  rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr joint_sub_;
  rclcpp::Subscription<std_msgs::msg::Float64MultiArray>::SharedPtr pose_sub_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr enable_sub_;

  int pace_ms_ = 0;
  std::mutex mutex_;
  long joint_count_ = 0, pose_count_ = 0, enable_count_ = 0;
  sensor_msgs::msg::JointState last_joint_;
  std_msgs::msg::Float64MultiArray last_pose_;
  bool last_enable_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  rclcpp::init(1, argv);
  auto peer = std::make_shared<Peer>();
  std::thread spinner([peer] { rclcpp::spin(peer); });
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = 0;
  for (size_t i = 0; i < args.size();) {
    if (!peer->step(args, &i)) {
      status = 2;
      break;
    }
  }
  // Reliable samples still in flight must reach the node before we leave.
  std::this_thread::sleep_for(200ms);
  puts(status == 0 ? "peer done" : "peer failed");
  rclcpp::shutdown();
  spinner.join();
  return status;
}
