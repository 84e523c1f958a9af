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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
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
  for (std::string item; std::getline(in, item, ',');) {
    out.push_back(std::strtod(item.c_str(), nullptr));
  }
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
    text_["test"] = create_publisher<Text>("test_topic", rclcpp::QoS(10));
    flag_["serve"] = create_publisher<Flag>("serve_on_topic", rclcpp::QoS(1));
    flag_["recover"] = create_publisher<Flag>("recover_topic", rclcpp::QoS(1));
    flag_["grasp"] = create_publisher<Flag>("grasp_button_topic", rclcpp::QoS(1));
  }

  // The node's timer proves that both participants know each other; the
  // node's readers of our topics were announced with its writer, so a short
  // settle covers their matching (the layer offers no match count).
  bool waitNode() {
    for (auto deadline = std::chrono::steady_clock::now() + 20s; counts()[0] == 0;) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(300ms);
    return true;
  }

  void listen(const std::string& ms) {
    const std::vector<long> before = counts();
    sleepMs(ms);
    const std::vector<long> after = counts();
    std::lock_guard<std::mutex> lock(mutex_);
    printf("listen joint=%ld pose=%ld enable=%ld\n", after[0] - before[0], after[1] - before[1],
           after[2] - before[2]);
    printf("joint frame_id=[%s] stamp=%d.%09u names=", last_joint_.header.frame_id.c_str(),
           last_joint_.header.stamp.sec, last_joint_.header.stamp.nanosec);
    for (const auto& n : last_joint_.name) printf("%s;", n.c_str());
    printf(" positions=");
    for (double v : last_joint_.position) printf("%.17g;", v);
    printf(" velocity=%zu effort=%zu\npose dims=%zu data=", last_joint_.velocity.size(),
           last_joint_.effort.size(), last_pose_.layout.dim.size());
    for (double v : last_pose_.data) printf("%.17g;", v);
    printf("\nenable=%d\n", last_enable_.data ? 1 : 0);
  }

  // Runs the step at args[*i] with its argument; false on failure.
  bool step(const std::vector<std::string>& args, size_t* i) {
    const std::string cmd = args[(*i)++];
    auto arg = [&]() { return *i < args.size() ? args[(*i)++] : std::string(); };
    if (cmd == "wait_node") return waitNode();
    if (cmd == "pace") {
      pace_ = arg();
    } else if (cmd == "listen") {
      listen(arg());
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
      (cmd == "movj" ? movj_ : movjs_)->publish(m);
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
    if (cmd != "pace" && cmd != "listen") sleepMs(pace_);
    return true;
  }

 private:
  template <typename M>
  typename rclcpp::Subscription<M>::SharedPtr watch(const char* topic, long* count, M* last) {
    return create_subscription<M>(topic, rclcpp::QoS(10), [this, count, last](const M& m) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++*count;
      *last = m;
    });
  }
  std::vector<long> counts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {joints_, poses_, enables_};
  }

  std::mutex mutex_;
  long joints_ = 0, poses_ = 0, enables_ = 0;
  Joints last_joint_;
  Array last_pose_;
  Flag last_enable_;
  std::string pace_ = "0";
  rclcpp::Publisher<Array>::SharedPtr movj_ =
      create_publisher<Array>("movj_topic", rclcpp::QoS(10));
  rclcpp::Publisher<Array>::SharedPtr movjs_ =
      create_publisher<Array>("movj_s_topic", rclcpp::QoS(10));
  rclcpp::Publisher<Joints>::SharedPtr barm_ =
      create_publisher<Joints>("B_arm_joint_pos_topic", rclcpp::QoS(10));
  std::map<std::string, rclcpp::Publisher<Text>::SharedPtr> text_;
  std::map<std::string, rclcpp::Publisher<Flag>::SharedPtr> flag_;
  rclcpp::Subscription<Joints>::SharedPtr joint_sub_ =
      watch("A_arm_joint_pos_topic", &joints_, &last_joint_);
  rclcpp::Subscription<Array>::SharedPtr pose_sub_ =
      watch("A_arm_tcp_posture_topic", &poses_, &last_pose_);
  rclcpp::Subscription<Flag>::SharedPtr enable_sub_ =
      watch("A_arm_motor_enable_topic", &enables_, &last_enable_);
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
