// How far the simulated bus's reply times sit above the ideal 1 Mbaud wire
// time: the part of a measured bus pass the simulator itself adds.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "servo_sim/servo_bus_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

int openRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

bool collect(int fd, size_t count) {
  uint8_t buf[64];
  size_t got = 0;
  while (got < count) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0) return false;
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// One feedback read (8-byte request, 21-byte reply) per iteration.
void BM_FeedbackReadOverhead(benchmark::State& state) {
  servo_sim::SimOptions opt;
  opt.wire_time = state.range(0) != 0;
  opt.frame_log_limit = 1000;
  servo_sim::ServoBusSim sim(opt);
  sim.addServo(1);
  if (!sim.start()) {
    state.SkipWithError("no pty");
    return;
  }
  const int fd = openRaw(sim.slavePath());
  const std::vector<uint8_t> req{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x38, 0x0F, 0xB1};
  const double ideal_us = opt.wire_time ? (8 + 21) * 10.0 : 0.0;
  double total_us = 0.0;
  double worst_us = 0.0;
  for (auto _ : state) {
    tcflush(fd, TCIFLUSH);
    const auto t0 = Clock::now();
    if (write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size()) || !collect(fd, 21)) {
      state.SkipWithError("no reply");
      break;
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    total_us += us;
    if (us > worst_us) worst_us = us;
  }
  close(fd);
  const servo_sim::ReplyTiming timing = sim.replyTiming();
  state.counters["sim_late_mean_us"] = timing.mean_late_us;
  state.counters["sim_late_p50_us"] = timing.p50_late_us;
  state.counters["sim_late_max_us"] = timing.max_late_us;
  const double n = static_cast<double>(state.iterations());
  state.counters["ideal_us"] = ideal_us;
  state.counters["overhead_us"] = n > 0 ? total_us / n - ideal_us : 0.0;
  state.counters["worst_us"] = worst_us;
}
BENCHMARK(BM_FeedbackReadOverhead)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
