// End-to-end latency of the whole arm_controller process: a movj published on
// DDS -> the first registered goal write on the servo bus that carries the new
// move. The servo bus is simulated in this process (its frame log stamps every
// frame on the steady clock, the same clock we stamp the publish with); the
// controller runs as a child process on its compiled-in bus device.
//
// The bus thread rewrites the held goal on every pass, so "first goal write"
// alone would only measure the pass phase: we look for the first goal write
// (instruction 0x04 at the goal register 41) whose position differs from what
// the bus carried just before the publish, with the arm at rest. A move starts
// from the measured position, and the feedback scale (0.088 degrees a step) is
// a little coarser than the goal scale (360/4096), which puts that start two or
// three steps off the held goal near mid-range: the move's very first setpoint
// already shows as a change.
// Counters: p50_us, p99_us, max_us.
//
// Environment: ARM_CONTROLLER (default ../arm_controller beside this binary),
// ARM_LATENCY_MOVES (default 50). Needs 127.0.0.1:8006/8007 free.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "arm_build_config.h"
#include "child_process.h"
#include "figures_operator.h"
#include "ros_domain.h"
#include "servo_sim/servo_bus_sim.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using figures::kJoints;
constexpr uint8_t kGoalRegister = 41;
constexpr double kAmplitude = 0.2;  // rad, every joint, back and forth
constexpr double kScale = 0.5;
constexpr double kArrivedTolerance = 0.02;
constexpr auto kRestWindow = std::chrono::milliseconds(300);

bool portInUse(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool used = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return used;
}

class Probe : public figures::Operator {
 public:
  Probe() : figures::Operator("figures_latency") {}
  void movj(double target) { Operator::movj(target, kScale); }
};

template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!pred()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

bool isGoalWrite(const servo_sim::Frame& f) {
  // params: register, acceleration, position (2 bytes), time, speed
  return f.checksum_ok && f.instruction == servo_sim::kInstRegWrite && f.params.size() >= 4 &&
         f.params[0] == kGoalRegister;
}
uint16_t goalBytes(const servo_sim::Frame& f) { return static_cast<uint16_t>(f.params[2] | (f.params[3] << 8)); }

// Sim, controller and DDS probe, brought up once for the whole run.
struct Rig {
  std::unique_ptr<servo_sim::ServoBusSim> sim;
  std::unique_ptr<arm_test::ChildProcess> controller;
  std::shared_ptr<Probe> probe;
  std::thread spinner;
  std::string error;

  bool start() {
    if (portInUse(8006) || portInUse(8007)) return fail("127.0.0.1:8006/8007 in use by another controller");
    servo_sim::SimOptions options;
    options.wire_time = true;
    options.link_path = arm_build_config::kServoBusDevice;
    options.frame_log_limit = 20000;
    sim = std::make_unique<servo_sim::ServoBusSim>(options);
    for (uint8_t id = 1; id <= kJoints; ++id) sim->addServo(id);
    if (!sim->start()) return fail(std::string("cannot start the sim on ") + options.link_path);

    // The child inherits the reserved domain through our environment.
    if (arm_test::reserveRosDomainId() < 0) return fail("no free ROS_DOMAIN_ID");
    const char* path = std::getenv("ARM_CONTROLLER");
    const std::string controller_path = path ? path : arm_test::executableDir() + "/../arm_controller";
    controller = std::make_unique<arm_test::ChildProcess>(std::vector<std::string>{controller_path});
    if (!controller->waitForOutput("---robot_cmd_processor node init. ---", 30s)) {
      const int status = controller->running() ? -1 : controller->wait(0ms);
      return fail("controller did not start (exit status " + std::to_string(status) + "):\n" + controller->output());
    }

    const char* argv[] = {"figures_latency"};
    rclcpp::init(1, argv);
    probe = std::make_shared<Probe>();
    auto node = probe;
    spinner = std::thread([node] { rclcpp::spin(node); });
    if (!waitFor([&] { return probe->seenJoints(); }, 30s)) return fail("no joint states from the controller");
    std::this_thread::sleep_for(500ms);  // let the controller's readers match our writers
    for (int i = 0; i < 10 && !probe->enabled(); ++i) {
      probe->serveOn();
      waitFor([&] { return probe->enabled(); }, 1000ms);
    }
    if (!probe->enabled()) return fail("servos never reported on");
    return true;
  }

  bool fail(const std::string& why) {
    error = why;
    return false;
  }

  ~Rig() {
    if (probe) {
      rclcpp::shutdown();
      if (spinner.joinable()) spinner.join();
    }
    controller.reset();  // before the sim, so the controller never sees the bus vanish
    if (sim) sim->stop();
  }

  // The next move must start from rest, or it would queue behind this one
  // and its first goal would be confused with the tail of this one: rest is
  // the same goal for every servo over a window longer than the last step of
  // a decelerating move takes.
  bool waitForRest(std::map<uint8_t, uint16_t>* held) const {
    const auto deadline = Clock::now() + 15s;
    auto before = heldGoals();
    while (Clock::now() < deadline) {
      std::this_thread::sleep_for(kRestWindow);
      auto now = heldGoals();
      if (now == before && (now.empty() || now.size() == kJoints)) {
        *held = now;
        return true;
      }
      before = now;
    }
    return false;
  }

  // Goal position each servo was last sent, from the recent frame log.
  std::map<uint8_t, uint16_t> heldGoals() const {
    const size_t count = sim->frameCount();
    std::map<uint8_t, uint16_t> held;
    for (const auto& f : sim->framesFrom(count > 400 ? count - 400 : 0)) {
      if (isGoalWrite(f)) held[f.id] = goalBytes(f);
    }
    return held;
  }
};

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t i = static_cast<size_t>(std::ceil(q * static_cast<double>(v.size()))) - 1;
  return v[std::min(i, v.size() - 1)];
}

void MovjToGoalWrite(benchmark::State& state) {
  Rig rig;
  if (!rig.start()) {
    state.SkipWithError(rig.error.c_str());
    for (auto _ : state) {
    }
    return;
  }
  std::mt19937 rng(7);
  // Spreads the publish over the phases of the 10 ms spin, 5 ms loop and bus pass.
  std::uniform_int_distribution<int> pause_ms(20, 120);
  std::vector<double> samples;
  double target = kAmplitude;
  bool arrived = true;
  int misses = 0;
  for (auto _ : state) {
    target = -target;
    std::map<uint8_t, uint16_t> held;
    if (!rig.waitForRest(&held)) {
      state.SkipWithError("the previous move never came to rest");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(rng)));
    size_t next = rig.sim->frameCount();
    const auto t0 = Clock::now();
    rig.probe->movj(target);

    double latency_s = -1.0;
    const auto deadline = t0 + 2s;
    while (latency_s < 0 && Clock::now() < deadline) {
      const auto frames = rig.sim->framesFrom(next);
      next += frames.size();
      for (const auto& f : frames) {
        if (!isGoalWrite(f) || f.time < t0) continue;
        const auto it = held.find(f.id);
        if (it == held.end() || it->second != goalBytes(f)) {
          latency_s = std::chrono::duration<double>(f.time - t0).count();
          break;
        }
      }
      if (latency_s < 0) std::this_thread::sleep_for(200us);
    }
    if (latency_s < 0) {
      ++misses;
      state.SetIterationTime(2.0);
    } else {
      samples.push_back(latency_s * 1e6);
      state.SetIterationTime(latency_s);
    }
    arrived = waitFor([&] { return rig.probe->distance(target) <= kArrivedTolerance; }, 10s) && arrived;
    if (!rig.controller->running()) {
      state.SkipWithError("controller died");
      break;
    }
  }
  state.counters["p50_us"] = percentile(samples, 0.50);
  state.counters["p99_us"] = percentile(samples, 0.99);
  state.counters["max_us"] = percentile(samples, 1.0);
  state.counters["misses"] = misses;
  state.counters["all_arrived"] = arrived ? 1 : 0;
}

int movesFromEnv() {
  const char* text = std::getenv("ARM_LATENCY_MOVES");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : 50;
}

}  // namespace

BENCHMARK(MovjToGoalWrite)->Iterations(movesFromEnv())->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
