// Latency of "robot_cmd_processor" over DDS on loopback, against a second
// process (this same binary started with --peer):
//   MovjToQueued:   the peer publishes a movj -> the command is in the queue.
//   PassToTopic:    a pass reads a new joint position -> the peer receives it
//                   on "A_arm_joint_pos_topic".
//   StateTopicRate: how often the node's 10 ms timer sends that topic, from
//                   the stamps of 10 s of joint states (a reader in the host).
// Both processes stamp with the steady clock, which is system-wide on Linux.
// Counters p50_us and p99_us are the median and 99th percentile.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "motion/commands/abstract_cmd_interface.h"
#include "motion/kinematics/arm_kinematics.h"
#include "child_process.h"
#include "motion/loop/interpolator.h"
#include "rclcpp/rclcpp.hpp"
#include "robot_cmd_ros_two_wrapper.h"
#include "ros_domain.h"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "test_motor.h"

namespace {

using namespace std::chrono_literals;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Line-oriented reading of a FIFO.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  bool next(std::string* line) {
    for (;;) {
      const size_t nl = buf_.find('\n');
      if (nl != std::string::npos) {
        *line = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return true;
      }
      char chunk[256];
      const ssize_t n = read(fd_, chunk, sizeof(chunk));
      if (n <= 0) return false;
      buf_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buf_;
};

void writeLine(int fd, const std::string& line) {
  const std::string out = line + "\n";
  ssize_t done = 0;
  while (done < static_cast<ssize_t>(out.size())) {
    const ssize_t n = write(fd, out.data() + done, out.size() - static_cast<size_t>(done));
    if (n <= 0) return;
    done += n;
  }
}

// --- peer process ---------------------------------------------------------

class BenchPeer : public rclcpp::Node {
 public:
  explicit BenchPeer(int out_fd) : rclcpp::Node("node_bench_peer"), out_fd_(out_fd) {
    movj_ = create_publisher<std_msgs::msg::Float64MultiArray>("movj_topic", rclcpp::QoS(10));
    joint_sub_ = create_subscription<sensor_msgs::msg::JointState>(
        "A_arm_joint_pos_topic", rclcpp::QoS(10), [this](const sensor_msgs::msg::JointState& m) {
          const int64_t t = nowNs();
          seen_ = true;
          if (m.position.empty() || m.position[0] == last_) return;
          last_ = m.position[0];
          std::lock_guard<std::mutex> lock(out_mutex_);
          writeLine(out_fd_, "S " + std::to_string(t) + " " + std::to_string(last_));
        });
  }

  void run(int in_fd) {
    while (!seen_) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(500ms);  // let the node's readers match ours
    {
      std::lock_guard<std::mutex> lock(out_mutex_);
      writeLine(out_fd_, "ready");
    }
    char c = 0;
    double target = 0.1;
    while (read(in_fd, &c, 1) == 1) {
      std_msgs::msg::Float64MultiArray msg;
      target = -target;
      msg.data = {target, target, target, target, target, target, 0.5};
      const int64_t t = nowNs();
      movj_->publish(msg);
      std::lock_guard<std::mutex> lock(out_mutex_);
      writeLine(out_fd_, "M " + std::to_string(t));
    }
  }

 private:
  int out_fd_;
  std::mutex out_mutex_;
  std::atomic<bool> seen_{false};
  double last_ = 0.0;
  rclcpp::Publisher<std_msgs::msg::Float64MultiArray>::SharedPtr movj_;
  rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr joint_sub_;
};

int runPeer(const char* in_path, const char* out_path) {
  const char* argv[] = {"node_bench_peer"};
  rclcpp::init(1, argv);
  const int out_fd = open(out_path, O_WRONLY);
  const int in_fd = open(in_path, O_RDONLY);
  if (in_fd < 0 || out_fd < 0) return 2;
  auto peer = std::make_shared<BenchPeer>(out_fd);
  std::thread spinner([peer] { rclcpp::spin(peer); });
  peer->run(in_fd);
  rclcpp::shutdown();
  spinner.join();
  return 0;
}

// --- host: the node under test -----------------------------------------------

struct Host {
  std::vector<std::unique_ptr<TestMotor>> motors;
  std::unique_ptr<ArmKinematics> kinematics;
  std::unique_ptr<Interpolator> interpolator;
  std::shared_ptr<RobotCmdRosTwoWrapper> node;
  std::thread spinner;
  std::string dir;
  int to_peer = -1;
  int from_peer = -1;
  std::unique_ptr<LineReader> reader;
  std::unique_ptr<arm_test::ChildProcess> peer;
  // Stamps of the joint states a reader beside the node gets while recording.
  std::shared_ptr<rclcpp::Node> probe;
  rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr probe_sub;
  std::thread probe_spinner;
  std::mutex stamps_mutex;
  bool recording = false;
  std::vector<int64_t> stamps;
};

Host* g_host = nullptr;

void startHost(const std::string& self) {
  auto* h = new Host();
  const int domain = arm_test::reserveRosDomainId();
  const char* argv[] = {"node_bench"};
  rclcpp::init(1, argv);
  RobotPara para;
  para.axis_num = 6;
  para.axis_reserved.resize(6);
  para.axis_paras.resize(6);
  for (int i = 0; i < 6; ++i) {
    h->motors.push_back(std::make_unique<TestMotor>(0.0, true));
    para.axis_paras[i] = {i == 1 ? 2.0943951023931957 : 5.201081170943102, 1.0, 1.0,
                          h->motors.back().get()};
  }
  const float kPi = 3.1415927f, kHalfPi = 1.5707964f, kOffset = -1.44635403f;
  h->kinematics = std::make_unique<ArmKinematics>(
      std::vector<float>{0.0f, kOffset, kOffset, 0.0f, 0.0f, 0.0f},
      std::vector<float>{0.0f, -kHalfPi, kPi, -kHalfPi, kHalfPi, -kHalfPi},
      std::vector<float>{0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f},
      std::vector<float>{328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f});
  h->interpolator = std::make_unique<Interpolator>(para, h->kinematics.get());
  h->interpolator->startLoop();
  h->node = std::make_shared<RobotCmdRosTwoWrapper>(h->interpolator.get());
  auto node = h->node;
  h->spinner = std::thread([node] { rclcpp::spin(node); });
  h->probe = std::make_shared<rclcpp::Node>("node_bench_rate");
  h->probe_sub = h->probe->create_subscription<sensor_msgs::msg::JointState>(
      "A_arm_joint_pos_topic", rclcpp::QoS(10), [h](const sensor_msgs::msg::JointState& m) {
        std::lock_guard<std::mutex> lock(h->stamps_mutex);
        const int64_t ns = int64_t{m.header.stamp.sec} * 1000000000 + m.header.stamp.nanosec;
        if (h->recording) h->stamps.push_back(ns);
      });
  h->probe_spinner = std::thread([probe = h->probe] { rclcpp::spin(probe); });

  char tmpl[] = "/tmp/arm_node_bench_XXXXXX";
  h->dir = mkdtemp(tmpl);
  const std::string in = h->dir + "/to_peer", out = h->dir + "/from_peer";
  mkfifo(in.c_str(), 0600);
  mkfifo(out.c_str(), 0600);
  h->peer = std::make_unique<arm_test::ChildProcess>(
      std::vector<std::string>{self, "--peer", in, out},
      std::map<std::string, std::string>{{"ROS_DOMAIN_ID", std::to_string(domain)}});
  h->from_peer = open(out.c_str(), O_RDONLY);
  h->to_peer = open(in.c_str(), O_WRONLY);
  h->reader = std::make_unique<LineReader>(h->from_peer);
  std::string line;
  while (h->reader->next(&line) && line != "ready") {
  }
  g_host = h;
}

void stopHost() {
  Host* h = g_host;
  if (h == nullptr) return;
  close(h->to_peer);  // the peer ends at end of input
  h->peer->wait(10s);
  h->peer.reset();
  close(h->from_peer);
  rclcpp::shutdown();
  h->spinner.join();
  h->probe_spinner.join();
  h->node.reset();
  h->interpolator.reset();
  unlink((h->dir + "/to_peer").c_str());
  unlink((h->dir + "/from_peer").c_str());
  rmdir(h->dir.c_str());
  delete h;
  g_host = nullptr;
}

size_t queueSize() { return g_host->interpolator->testView().queued; }

// A stop drops the command in hand and everything queued behind it.
void clearQueue() {
  Interpolator* ip = g_host->interpolator.get();
  ip->stop();
  while (queueSize() > 0) ip->runPass();
}

void report(benchmark::State& state, std::vector<double> us) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters["p50_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  state.counters["max_us"] = us.back();
}

void MovjToQueued(benchmark::State& state) {
  std::vector<double> samples;
  std::string line;
  for (auto _ : state) {
    clearQueue();
    const char go = 'g';
    if (write(g_host->to_peer, &go, 1) != 1) break;
    while (queueSize() == 0) {
    }
    const int64_t queued = nowNs();
    // The peer's stamp may arrive after the command is queued.
    while (g_host->reader->next(&line) && line.rfind("M ", 0) != 0) {
    }
    const double us = static_cast<double>(queued - std::stoll(line.substr(2))) / 1000.0;
    samples.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  clearQueue();
  report(state, samples);
}
BENCHMARK(MovjToQueued)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

void PassToTopic(benchmark::State& state) {
  std::vector<double> samples;
  std::string line;
  double position = 0.0;
  for (auto _ : state) {
    position += 0.001;
    for (auto& m : g_host->motors) m->setPosition(position);
    g_host->interpolator->runPass();
    const int64_t changed = nowNs();
    while (g_host->reader->next(&line) && line.rfind("S ", 0) != 0) {
    }
    const double us =
        static_cast<double>(std::stoll(line.substr(2, line.find(' ', 2) - 2)) - changed) / 1000.0;
    samples.push_back(us);
    state.SetIterationTime(us / 1e6);
    // Changes land at uniformly random points of the 10 ms period.
    std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 10000));
  }
  report(state, samples);
}
BENCHMARK(PassToTopic)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

// Counters: rate_hz over the whole window, the gaps between ticks (p50, p99,
// max, in ms) and the periods skipped: those the window spans less the ticks
// (a late tick alone skips none; the next one stays on the 10 ms grid).
void StateTopicRate(benchmark::State& state) {
  constexpr auto kWindow = 10s;
  Host* h = g_host;
  for (auto _ : state) {
    {
      std::lock_guard<std::mutex> lock(h->stamps_mutex);
      h->stamps.clear();
      h->recording = true;
    }
    std::this_thread::sleep_for(kWindow);
    std::lock_guard<std::mutex> lock(h->stamps_mutex);
    h->recording = false;
    state.SetIterationTime(std::chrono::duration<double>(kWindow).count());
  }
  const std::vector<int64_t>& t = h->stamps;
  if (t.size() < 2) return;
  std::vector<double> gaps_ms;
  for (size_t i = 1; i < t.size(); ++i) gaps_ms.push_back(static_cast<double>(t[i] - t[i - 1]) / 1e6);
  const double span_ns = static_cast<double>(t.back() - t.front());
  state.counters["rate_hz"] = static_cast<double>(t.size() - 1) * 1e9 / span_ns;
  state.counters["skipped"] = std::round(span_ns / 1e7) - static_cast<double>(t.size() - 1);
  std::sort(gaps_ms.begin(), gaps_ms.end());
  state.counters["gap_p50_ms"] = gaps_ms[gaps_ms.size() / 2];
  state.counters["gap_p99_ms"] = gaps_ms[std::min(gaps_ms.size() - 1, gaps_ms.size() * 99 / 100)];
  state.counters["gap_max_ms"] = gaps_ms.back();
}
BENCHMARK(StateTopicRate)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peer") == 0) return runPeer(argv[2], argv[3]);
  // The node's console lines would drown the report: they go to /dev/null and
  // the report to standard error.
  fflush(stdout);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, STDOUT_FILENO);
  benchmark::Initialize(&argc, argv);
  startHost(arm_test::executableDir() + "/node_bench");
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  stopHost();
  benchmark::Shutdown();
  return 0;
}
