// A second DDS participant that drives "robot_cmd_processor" the way an
// operator's tools would: it publishes commands.
//
// Usage: node_peer <step>...   steps run in order:
//   wait_node                 wait for the node's joint topic and its readers
//   movj V,V,...              movj_topic data
//   movjs DIMS V,V,...        movj_s_topic; DIMS is "P,C", "P" or "-" (no dims)
//   stop TEXT | home TEXT | follow TEXT
//   serve 0|1 | recover 0|1 | grasp 0|1
//   barm V,V,...              B_arm_joint_pos_topic positions
//   sleep MS
//   pace MS                   pause after every later publish (readers keep
//                             only their last 10 samples)
// Exit status 0, or 2 when the node never showed up.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
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
using Array = std_msgs::msg::Float64MultiArray;
using Joints = sensor_msgs::msg::JointState;
using Text = std_msgs::msg::String;
using Flag = std_msgs::msg::Bool;

std::vector<double> parseList(const std::string& text) {
  std::vector<double> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');)
    out.push_back(std::strtod(item.c_str(), nullptr));
  return out;
}

void sleepMs(const std::string& ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms.c_str())));
}

class Peer : public rclcpp::Node {
 public:
  Peer() : rclcpp::Node("node_test_peer") {
    text_["stop"] = create_publisher<Text>("stop_topic", rclcpp::QoS(1));
    text_["home"] = create_publisher<Text>("set_home_topic", rclcpp::QoS(10));
    text_["follow"] = create_publisher<Text>("follow_b_arm_topic", rclcpp::QoS(10));
    flag_["serve"] = create_publisher<Flag>("serve_on_topic", rclcpp::QoS(1));
    flag_["recover"] = create_publisher<Flag>("recover_topic", rclcpp::QoS(1));
    flag_["grasp"] = create_publisher<Flag>("grasp_button_topic", rclcpp::QoS(1));
    array_["movj"] = create_publisher<Array>("movj_topic", rclcpp::QoS(10));
    array_["movjs"] = create_publisher<Array>("movj_s_topic", rclcpp::QoS(10));
  }

  // The node's timer proves that both participants know each other; the
  // node's readers of our topics were announced with its writer, so a short
  // settle covers their matching (the layer offers no match count).
  bool waitNode() {
    for (auto deadline = std::chrono::steady_clock::now() + 20s; joints_ == 0;) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(300ms);
    return true;
  }

  // Runs the step at args[*i] with its argument; false on failure.
  bool step(const std::vector<std::string>& args, size_t* i) {
    const std::string cmd = args[(*i)++];
    auto arg = [&]() { return *i < args.size() ? args[(*i)++] : std::string(); };
    if (cmd == "wait_node") return waitNode();
    if (cmd == "pace") {
      pace_ = arg();
    } else if (cmd == "sleep") {
      sleepMs(arg());
    } else if (cmd == "movj" || cmd == "movjs") {
      Array m;
      const std::string dims = cmd == "movjs" ? arg() : "-";
      for (double d : dims == "-" ? std::vector<double>() : parseList(dims)) {
        m.layout.dim.emplace_back();
        m.layout.dim.back().size = static_cast<uint32_t>(static_cast<int64_t>(d));
      }
      m.data = parseList(arg());
      array_[cmd]->publish(m);
    } else if (cmd == "barm") {
      Joints m;
      m.position = parseList(arg());
      barm_->publish(m);
    } else if (text_.count(cmd) != 0) {
      Text m;
      m.data = arg();
      text_[cmd]->publish(m);
    } else if (flag_.count(cmd) != 0) {
      Flag m;
      m.data = arg() == "1";
      flag_[cmd]->publish(m);
    } else {
      fprintf(stderr, "unknown step %s\n", cmd.c_str());
      return false;
    }
    if (cmd != "pace") sleepMs(pace_);
    return true;
  }

 private:
  std::atomic<long> joints_{0};
  std::string pace_ = "0";
  std::map<std::string, rclcpp::Publisher<Array>::SharedPtr> array_;
  rclcpp::Publisher<Joints>::SharedPtr barm_ =
      create_publisher<Joints>("B_arm_joint_pos_topic", rclcpp::QoS(10));
  std::map<std::string, rclcpp::Publisher<Text>::SharedPtr> text_;
  std::map<std::string, rclcpp::Publisher<Flag>::SharedPtr> flag_;
  rclcpp::Subscription<Joints>::SharedPtr joint_sub_ = create_subscription<Joints>(
      "A_arm_joint_pos_topic", rclcpp::QoS(10), [this](const Joints&) { ++joints_; });
};

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  rclcpp::init(1, argv);
  auto peer = std::make_shared<Peer>();
  std::thread spinner([peer] { rclcpp::spin(peer); });
  const std::vector<std::string> args(argv + 1, argv + argc);
  int status = 0;
  for (size_t i = 0; i < args.size() && status == 0;) status = peer->step(args, &i) ? 0 : 2;
  // Reliable samples still in flight must reach the node before we leave.
  std::this_thread::sleep_for(200ms);
  puts(status == 0 ? "peer done" : "peer failed");
  rclcpp::shutdown();
  spinner.join();
  return status;
}
