// Pass period of the servo bus thread while a trajectory streams goals to six
// simulated servos that emulate 1 Mbaud wire time and a reply delay. The floor
// of a pass is the 5000 us sleep plus the wire time of every byte of the pass
// (requests and replies, 10 us each) plus the reply delays; the host overhead
// is what the measured period adds to it.
//
// A second benchmark sends the same traffic from a bare client (prebuilt
// frames, one write and a poll/read loop per transaction, no checking) to show
// what the pseudo-terminal and the simulator alone add on this machine.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "motor/bus_servo_motor.h"
#include "servo/servo_bus_thread.h"
#include "servo_sim/servo_bus_sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using servo_sim::Frame;
constexpr int kServos = 6;
constexpr double kByteUs = 10.0;
constexpr double kPassSleepUs = 5000.0;
constexpr auto kMeasureFor = std::chrono::seconds(3);

std::set<int> threadIds() {
  std::set<int> ids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] != '.') ids.insert(std::atoi(e->d_name));
    }
    closedir(dir);
  }
  return ids;
}

// CPU time of one thread of this process, in ns.
double threadCpuNs(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
  double ns = 0.0;
  in >> ns;
  return ns;
}

// Bytes a servo sends back for a frame, 0 for broadcasts.
int replyBytes(const Frame& f) {
  if (f.id == servo_sim::kBroadcastId) return 0;
  if (f.instruction == servo_sim::kInstRead) return f.params.at(1) + 6;
  return 6;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

double us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// Period and floor of the passes in a frame log, each pass closed by the
// broadcast ACTION. Medians beside the means, which preemption by other load
// on the machine drags up: the pass period, the time a transaction takes
// beyond its wire time and reply delay, and the time from a pass's ACTION to
// the next pass's first frame beyond the sleep.
bool reportPasses(benchmark::State& state, const std::vector<Frame>& log, double reply_delay_us) {
  std::vector<size_t> actions;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].id == servo_sim::kBroadcastId && log[i].instruction == servo_sim::kInstAction) {
      actions.push_back(i);
    }
  }
  if (actions.size() < 3) return false;
  double wire_us = 0.0, delay_us = 0.0;
  std::vector<double> periods, excess, sleep_excess;
  for (size_t i = actions.front() + 1; i <= actions.back(); ++i) {
    const int reply = replyBytes(log[i]);
    wire_us += (log[i].raw.size() + reply) * kByteUs;
    if (reply == 0) continue;
    delay_us += reply_delay_us;
    excess.push_back(us(log[i + 1].time - log[i].time) - (log[i].raw.size() + reply) * kByteUs -
                     reply_delay_us);
  }
  for (size_t k = 0; k + 1 < actions.size(); ++k) {
    periods.push_back(us(log[actions[k + 1]].time - log[actions[k]].time));
    sleep_excess.push_back(us(log[actions[k] + 1].time - log[actions[k]].time) - kPassSleepUs);
  }
  const double passes = static_cast<double>(periods.size());
  const double period = us(log[actions.back()].time - log[actions.front()].time) / passes;
  const double floor = kPassSleepUs + (wire_us + delay_us) / passes;
  state.SetIterationTime(period * 1e-6);
  state.counters["passes"] = passes;
  state.counters["floor_us"] = floor;
  state.counters["period_us"] = period;
  state.counters["overhead_pct"] = 100.0 * (period - floor) / floor;
  state.counters["period_p50_us"] = median(periods);
  state.counters["overhead_p50_pct"] = 100.0 * (median(periods) - floor) / floor;
  state.counters["txn_excess_p50_us"] = median(excess);
  state.counters["sleep_excess_p50_us"] = median(sleep_excess);
  return true;
}

std::unique_ptr<servo_sim::ServoBusSim> startSim(uint32_t reply_delay_us) {
  servo_sim::SimOptions options;
  options.wire_time = true;
  options.reply_delay_us = reply_delay_us;
  auto sim = std::make_unique<servo_sim::ServoBusSim>(options);
  for (int id = 1; id <= kServos; ++id) sim->addServo(static_cast<uint8_t>(id));
  if (!sim->start()) return nullptr;
  return sim;
}

void BM_BusPassPeriod(benchmark::State& state) {
  const uint32_t reply_delay_us = static_cast<uint32_t>(state.range(0));
  auto sim = startSim(reply_delay_us);
  if (!sim) {
    state.SkipWithError("simulator did not start");
    return;
  }
  const std::set<int> before = threadIds();
  auto bus = std::make_unique<servo::ServoBusThread>(sim->slavePath().c_str());
  bus->start();
  int worker_tid = -1;
  for (int tid : threadIds()) {
    if (before.count(tid) == 0) worker_tid = tid;
  }

  std::vector<std::unique_ptr<busServoMotor>> motors;
  for (int id = 1; id <= kServos; ++id) {
    motors.push_back(std::make_unique<busServoMotor>(id, 0, bus.get()));
    motors.back()->init();
    motors.back()->setEnableStatus(true);
  }
  const auto ready_by = Clock::now() + std::chrono::seconds(3);
  for (auto& m : motors) {
    bool on = false;
    while ((m->getEnableStatus(&on) != kMotorOk || !on) && Clock::now() < ready_by) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // The interpolation loop's part: a fresh goal for every joint every 5 ms.
  std::atomic<bool> stop{false};
  std::thread trajectory([&] {
    const auto t0 = Clock::now();
    while (!stop.load()) {
      const double t = std::chrono::duration<double>(Clock::now() - t0).count();
      for (auto& m : motors) m->setMotorPosition(0.5 * std::sin(t));
      std::this_thread::sleep_for(std::chrono::microseconds(5000));
    }
  });

  for (auto _ : state) {
    sim->clearFrames();
    const auto wall0 = Clock::now();
    const double cpu0 = threadCpuNs(worker_tid);
    std::this_thread::sleep_for(kMeasureFor);
    const double cpu1 = threadCpuNs(worker_tid);
    const auto wall1 = Clock::now();
    if (!reportPasses(state, sim->frames(), reply_delay_us)) {
      state.SkipWithError("too few passes");
      break;
    }
    state.counters["bus_cpu_pct"] = 100.0 * (cpu1 - cpu0) / (us(wall1 - wall0) * 1000.0);
  }
  stop = true;
  trajectory.join();
  bus.reset();
}

std::vector<uint8_t> frame(uint8_t id, uint8_t instruction, const std::vector<uint8_t>& params) {
  std::vector<uint8_t> f = {0xFF, 0xFF, id, static_cast<uint8_t>(params.size() + 2), instruction};
  for (uint8_t p : params) f.push_back(p);
  int sum = 0;
  for (size_t i = 2; i < f.size(); ++i) sum += f[i];
  f.push_back(static_cast<uint8_t>(~sum));
  return f;
}

void BM_BareClientPassPeriod(benchmark::State& state) {
  const uint32_t reply_delay_us = static_cast<uint32_t>(state.range(0));
  auto sim = startSim(reply_delay_us);
  if (!sim) {
    state.SkipWithError("simulator did not start");
    return;
  }
  for (int id = 1; id <= kServos; ++id) sim->setReg(static_cast<uint8_t>(id), 40, 1);
  const int fd = open(sim->slavePath().c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);

  struct Txn {
    std::vector<uint8_t> request;
    size_t reply;
  };
  std::vector<Txn> pass;
  for (uint8_t id = 1; id <= kServos; ++id) {
    pass.push_back({frame(id, 2, {56, 15}), 21});
    pass.push_back({frame(id, 2, {40, 1}), 7});
    pass.push_back({frame(id, 4, {41, 0, 0x00, 0x08, 0, 0, 0, 0}), 6});
  }
  pass.push_back({frame(0xFE, 5, {}), 0});

  std::atomic<bool> stop{false};
  std::thread client([&] {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    uint8_t buf[64];
    while (!stop.load()) {
      for (const Txn& t : pass) {
        if (write(fd, t.request.data(), t.request.size()) < 0) return;
        size_t got = 0;
        while (got < t.reply) {
          pollfd p{fd, POLLIN, 0};
          if (poll(&p, 1, 100) <= 0) break;
          const ssize_t n = read(fd, buf, sizeof(buf));
          if (n <= 0) break;
          got += static_cast<size_t>(n);
        }
      }
      usleep(static_cast<useconds_t>(kPassSleepUs));
    }
  });

  for (auto _ : state) {
    sim->clearFrames();
    std::this_thread::sleep_for(kMeasureFor);
    if (!reportPasses(state, sim->frames(), reply_delay_us)) {
      state.SkipWithError("too few passes");
      break;
    }
  }
  stop = true;
  client.join();
  close(fd);
}

BENCHMARK(BM_BusPassPeriod)->Arg(0)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareClientPassPeriod)->Arg(0)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
