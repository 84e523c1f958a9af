// Call-server round trip against a plain TCP echo on loopback, and the CPU
// the process spends while a stream client is connected. The servers log to
// standard output, so it goes to /dev/null and the results to standard error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "motion/kinematics/arm_kinematics.h"
#include "server/driver_call_server.h"
#include "server/driver_stream_server.h"
#include "motion/loop/interpolator.h"
#include "rclcpp/rclcpp.hpp"
#include "motor/virtual_motor.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kRequest("\x00\x00\x00\x02\x08\x01", 6);
constexpr size_t kReplySize = 44;

int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

int connectTo(int port) {
  for (int i = 0; i < 500; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      return fd;
    }
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

bool readAll(int fd, char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = recv(fd, buf + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

bool roundTrip(int fd, const std::string& req, size_t reply_size) {
  char buf[256];
  return send(fd, req.data(), req.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(req.size()) &&
         readAll(fd, buf, reply_size);
}

// Answers each 6-byte request with a 44-byte reply, like the call server but
// with nothing in between.
class EchoServer {
 public:
  EchoServer() : port_(freePort()) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    listen(listen_fd_, 1);
    thread_ = std::thread([this] {
      int fd = accept(listen_fd_, nullptr, nullptr);
      const std::string reply(kReplySize, 'r');
      char buf[kReplySize];
      while (readAll(fd, buf, kRequest.size())) {
        if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
      }
      close(fd);
    });
  }
  ~EchoServer() {
    shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    close(listen_fd_);
  }
  int port() const { return port_; }

 private:
  int port_;
  int listen_fd_;
  std::thread thread_;
};

struct Arm {
  Arm()
      : kin({0.0f, -1.44635403f, -1.44635403f, 0.0f, 0.0f, 0.0f},
            {0.0f, -1.5707964f, 3.1415927f, -1.5707964f, 1.5707964f, -1.5707964f},
            {0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f}, {328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f}) {
    para.axis_num = 6;
    para.axis_reserved.assign(6, AxisReserved());
    para.axis_paras.assign(6, AxisPara());
    for (int i = 0; i < 6; ++i) {
      motors.push_back(std::make_unique<VirtualMotor>());
      para.axis_paras[i].max_vel = 5.201081170943102;
      para.axis_paras[i].max_acc = 1.0;
      para.axis_paras[i].ratio = 1.0;
      para.axis_paras[i].motor = motors.back().get();
    }
    ip = std::make_unique<Interpolator>(para, &kin);
    ip->startLoop();
    ip->runPass();
  }
  std::vector<std::unique_ptr<VirtualMotor>> motors;
  RobotPara para;
  ArmKinematics kin;
  std::unique_ptr<Interpolator> ip;
};

Arm& arm() {
  static Arm* a = new Arm();  // lives for the process, like the real one
  return *a;
}

void BM_CallServerArmIdRoundTrip(benchmark::State& state) {
  const int port = freePort();
  DriverCallServer server("127.0.0.1", static_cast<uint32_t>(port), arm().ip.get());
  server.Start();
  int fd = connectTo(port);
  for (auto _ : state) {
    if (!roundTrip(fd, kRequest, kReplySize)) state.SkipWithError("round trip failed");
  }
  close(fd);
}
BENCHMARK(BM_CallServerArmIdRoundTrip)->UseRealTime();

void BM_PlainEchoRoundTrip(benchmark::State& state) {
  EchoServer echo;
  int fd = connectTo(echo.port());
  for (auto _ : state) {
    if (!roundTrip(fd, kRequest, kReplySize)) state.SkipWithError("round trip failed");
  }
  close(fd);
}
BENCHMARK(BM_PlainEchoRoundTrip)->UseRealTime();

// Both round trips in one run, in alternating blocks so that machine load
// shifts both sides alike; median_ratio = median call / median echo.
void BM_ArmIdOverEchoRatio(benchmark::State& state) {
  // Client, call server and echo server on one core (threads inherit the
  // mask): every hand-off is then the same same-core wake-up and the ratio
  // compares the two code paths. Across cores, where a loaded VM happens to
  // wake each thread (about 15 us against 50 us) dominates and flips between runs.
  cpu_set_t saved;
  CPU_ZERO(&saved);
  sched_getaffinity(0, sizeof(saved), &saved);
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  sched_setaffinity(0, sizeof(one), &one);
  const int port = freePort();
  DriverCallServer server("127.0.0.1", static_cast<uint32_t>(port), arm().ip.get());
  server.Start();
  EchoServer echo;
  int call_fd = connectTo(port);
  int echo_fd = connectTo(echo.port());
  std::vector<double> call_us;
  std::vector<double> echo_us;
  // Alternating blocks of round trips, each on its own steady connection.
  constexpr int kBlock = 100;
  bool call_turn = true;
  std::vector<double>* samples[2] = {&echo_us, &call_us};
  for (auto _ : state) {
    const int fd = call_turn ? call_fd : echo_fd;
    for (int i = 0; i < kBlock; ++i) {
      const auto t0 = Clock::now();
      roundTrip(fd, kRequest, kReplySize);
      samples[call_turn ? 1 : 0]->push_back(
          std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    call_turn = !call_turn;
  }
  auto median = [](std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  state.counters["median_ratio"] = median(call_us) / median(echo_us);
  state.counters["call_median_us"] = median(call_us);
  state.counters["echo_median_us"] = median(echo_us);
  close(call_fd);
  close(echo_fd);
  sched_setaffinity(0, sizeof(saved), &saved);
}
BENCHMARK(BM_ArmIdOverEchoRatio)->UseRealTime()->Iterations(100);

double processCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The client reads its frames; the counter is the whole process's CPU as a
// share of one core (server threads and the reading client together).
void BM_StreamIdleClientCpu(benchmark::State& state) {
  const int port = freePort();
  DriverStreamServer server("127.0.0.1", static_cast<uint32_t>(port), arm().ip.get());
  server.Start();
  int fd = connectTo(port);
  std::atomic<bool> reading{true};
  std::atomic<long> bytes{0};
  std::thread reader([&] {
    char buf[4096];
    while (reading) {
      ssize_t n = recv(fd, buf, sizeof(buf), 0);
      if (n <= 0) break;
      bytes += n;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  double cpu = 0.0;
  double wall = 0.0;
  for (auto _ : state) {
    const double c0 = processCpuSeconds();
    const auto w0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    cpu += processCpuSeconds() - c0;
    wall += std::chrono::duration<double>(Clock::now() - w0).count();
  }
  state.counters["cpu_percent_of_core"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
  // Proof that frames flowed while measuring (about 33 frames of ~115 bytes).
  state.counters["bytes_per_s"] = wall > 0 ? static_cast<double>(bytes) / wall : 0.0;
  reading = false;
  shutdown(fd, SHUT_RDWR);
  reader.join();
  close(fd);
}
BENCHMARK(BM_StreamIdleClientCpu)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  rclcpp::init(0, nullptr);
  benchmark::Initialize(&argc, argv);
  // Keep the servers' log lines out of the measurement output.
  std::cout.flush();
  const int saved_stdout = dup(STDOUT_FILENO);
  if (freopen("/dev/null", "w", stdout) == nullptr) return 1;
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  fflush(stdout);
  dup2(saved_stdout, STDOUT_FILENO);
  // The servers' threads outlive main; do not run static destructors under them.
  _exit(0);
}
