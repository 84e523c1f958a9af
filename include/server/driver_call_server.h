#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/tcp_server.h"

class Interpolator;

namespace robot_ping {
class MainArmRespMsg;
}  // namespace robot_ping

// Request and reply server for a local program that drives the arm without
// ROS 2: the arm identifier, joint moves and motor power. Requests are served
// one at a time on the accept thread; a move or power request holds its
// connection until the arm has done it or the wait has run out.
class DriverCallServer : public TcpServer {
 public:
  // Answered to GetMainArmId; only ever sent.
  static constexpr const char* kArmId = "7c3e9b12-4a6f-4d0e-9b85-e21f6c4a8d07";
  // Every joint must be this close to its target (rad) to count as arrived.
  static constexpr double kArrivalTolerance = 0.008;
  static constexpr double kRemoteScale = 0.4;

  DriverCallServer(const std::string& ip, uint32_t port, Interpolator* interpolator);
  ~DriverCallServer();

  bool HandleConnection(int* client_fd) override;
  // Queues enable or disable of all axes and waits up to 10 s until every
  // axis reads torque on, or every axis reads torque off.
  bool enableCmd(bool enable);
  // Checks, plans and queues a joint move, then waits up to about 20 s for
  // the arm to arrive. acc_scale is not used.
  bool jointPos(const std::vector<double>& target, double vel_scale, double acc_scale);
  // True when the move was queued.
  bool planJointMove(const std::vector<double>& target, double scale);

 private:
  // Frames and sends one reply; false (with its line) when that fails.
  bool sendReply(int fd, const robot_ping::MainArmRespMsg& reply, size_t* frame_size);

  Interpolator* interpolator_;
  int32_t axis_num_;
};
