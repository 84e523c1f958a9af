#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "server/tcp_server.h"

class Interpolator;

// Pushes the arm's state (joint angles, pose, enable state, gripper button)
// to one local client, one frame about every 30 ms. The sender thread starts
// with the object; the accept thread only watches the client until it leaves.
class DriverStreamServer : public TcpServer {
 public:
  // Sleep between two frames; the period is this plus the time of one frame.
  static constexpr std::chrono::milliseconds kStreamPeriod{30};

  DriverStreamServer(const std::string& ip, uint32_t port, Interpolator* interpolator);
  ~DriverStreamServer();

  bool HandleConnection(int* client_fd) override;
  // Body of the sender thread; returns once the server is being destroyed.
  bool StreamLoop();
  // Builds and sends one state frame to the current client, if there is one.
  void SendState();

 private:
  std::thread stream_thread_;
  Interpolator* interpolator_;
  std::atomic<bool> running_;
  // Only the sender thread touches it.
  std::chrono::system_clock::time_point last_log_time_;
};
