#include "server/driver_stream_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "cloud/robot_ping.pb.h"
#include "motion/loop/interpolator.h"
#include "server/wire_frame.h"

namespace {

constexpr uint32_t kBacklog = 1;
// A state log line at most once per this many whole seconds (strictly more).
constexpr long kLogIntervalS = 9;
// How long the accept thread waits for a hang-up between connection tests.
constexpr int kWatchTimeoutMs = 50;
constexpr std::chrono::milliseconds kWatchBackoff(10);
constexpr size_t kPoseSize = 6;
constexpr size_t kFirstAngle = 3;

}  // namespace

DriverStreamServer::DriverStreamServer(const std::string& ip, uint32_t port,
                                       Interpolator* interpolator)
    : TcpServer(ip, port, kBacklog),
      interpolator_(interpolator),
      running_(true),
      last_log_time_() {
  stream_thread_ = std::thread(&DriverStreamServer::StreamLoop, this);
}

DriverStreamServer::~DriverStreamServer() {
  StopAccepting();
  Close(listen_fd_);
  running_ = false;
  if (stream_thread_.joinable()) stream_thread_.join();
}

bool DriverStreamServer::StreamLoop() {
  while (running_) {
    SendState();
    std::this_thread::sleep_for(kStreamPeriod);
  }
  return true;
}

void DriverStreamServer::SendState() {
  {
    std::lock_guard<std::mutex> lock(client_mutex_);
    if (client_fd_ < 0) return;
  }

  std::vector<double> joints;
  std::vector<double> pose;
  bool enable = false;
  bool grip = false;
  interpolator_->getJointPositions(&joints);
  interpolator_->getPose(&pose);
  for (size_t i = kFirstAngle; i < pose.size() && i < kPoseSize; ++i) pose[i] *= kRadToDeg;
  interpolator_->getEnableState(&enable);
  interpolator_->getGripSignal(&grip);
  const int64_t timestamp = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();

  robot_ping::MainArmStates state;
  state.set_timestamp(timestamp);
  robot_ping::JointAngle* angle = state.mutable_angle();
  angle->clear_angle();
  for (double j : joints) angle->add_angle(j);
  state.clear_pose();
  for (double p : pose) state.add_pose(p);
  state.set_gripsignal(grip);
  state.set_enablepower(enable);

  std::string frame;
  if (!wire_frame::buildFrame(state, &frame)) {
    fputs("Failed to serialize message.\n", stderr);
    return;
  }

  const auto t = std::chrono::system_clock::now();
  {
    // Held across the send so the accept thread cannot close (and the
    // system reuse) the descriptor under it.
    std::lock_guard<std::mutex> lock(client_mutex_);
    if (client_fd_ < 0) return;
    if (!Send(client_fd_, frame.data(), static_cast<int>(frame.size()))) {
      fputs("Failed to send serialized data.\n", stderr);
      // Some of the frame may be out: no further frame may follow it.
      shutdown(client_fd_, SHUT_RDWR);
      return;
    }
  }
  if (std::chrono::duration_cast<std::chrono::seconds>(t - last_log_time_).count() >
      kLogIntervalS) {
    printf("[%lld] Sent data: %s\n", static_cast<long long>(timestamp),
           state.DebugString().c_str());
    last_log_time_ = t;
  }
}

bool DriverStreamServer::HandleConnection(int* client_fd) {
  if (*client_fd < 0) return false;
  // Nothing is read from the client; only a hang-up (or an error) wakes the
  // poll, and the connection test decides.
  while (IsConnected(*client_fd)) {
    pollfd pfd{*client_fd, POLLRDHUP, 0};
    if (poll(&pfd, 1, kWatchTimeoutMs) > 0 && IsConnected(*client_fd)) {
      std::this_thread::sleep_for(kWatchBackoff);
    }
  }
  fputs("The connection has been disconnected.\n", stderr);
  CloseClient(client_fd);
  return false;
}
