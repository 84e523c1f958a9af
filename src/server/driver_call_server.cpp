#include "server/driver_call_server.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cloud/robot_ping.pb.h"
#include "motion/loop/interpolator.h"
#include "motion/producers/joint_move_producer.h"
#include "server/wire_frame.h"

namespace {

constexpr uint32_t kBacklog = 1;
// Time the arm gets before the arrival checks start.
constexpr std::chrono::seconds kSettleTime(10);
constexpr int kArrivalChecks = 1000;
constexpr useconds_t kArrivalCheckPeriodUs = 10000;
constexpr int kEnableChecks = 500;
constexpr useconds_t kEnableCheckPeriodUs = 20000;

void logDisconnect() { fputs("call server The connection has been disconnected.\n", stderr); }

}  // namespace

DriverCallServer::DriverCallServer(const std::string& ip, uint32_t port, Interpolator* interpolator)
    : TcpServer(ip, port, kBacklog),
      interpolator_(interpolator),
      axis_num_(interpolator->getRobotPara().axis_num) {}

DriverCallServer::~DriverCallServer() {
  StopAccepting();
  Close(listen_fd_);
}

bool DriverCallServer::HandleConnection(int* client_fd) {
  if (*client_fd < 0) return false;
  while (IsConnected(*client_fd)) {
    puts("Waiting for data...");
    unsigned char header[wire_frame::kHeaderSize] = {0, 0, 0, 0};
    wire_frame::ReadStatus st =
        wire_frame::readExact(*client_fd, reinterpret_cast<char*>(header), sizeof(header));
    if (st == wire_frame::ReadStatus::kIdle) {
      // Idle client or peer gone: the connection test decides.
      printf("read contimue\n");
      continue;
    }
    if (st == wire_frame::ReadStatus::kCut) {
      // Some header bytes and then nothing: the stream can no longer be framed.
      logDisconnect();
      CloseClient(client_fd);
      return false;
    }

    int32_t word_as_read;
    std::memcpy(&word_as_read, header, sizeof(word_as_read));
    const uint32_t length = wire_frame::decodeLength(header);
    const int32_t len = static_cast<int32_t>(length);
    if (length == 0 || length > wire_frame::kMaxPayload) {
      fprintf(stderr, "Received invalid length: %d\n", len);
      // An empty frame carries nothing; an oversized one would have us
      // allocate what the peer asks, and its bytes cannot be skipped safely.
      if (length == 0) continue;
      CloseClient(client_fd);
      return false;
    }
    printf("Received data length: %d\n", word_as_read);
    printf("Received data ntohl length: %d\n", len);

    std::string payload(length, '\0');
    st = wire_frame::readExact(*client_fd, &payload[0], payload.size());
    if (st != wire_frame::ReadStatus::kComplete) {
      logDisconnect();
      CloseClient(client_fd);
      return false;
    }
    printf("Received data length: %d\n", len);

    robot_ping::MainArmRequestMsg request;
    if (!request.ParseFromArray(payload.data(), len)) {
      fprintf(stderr, "Failed to parse request msg of %d bytes; ignored.\n", len);
      continue;
    }
    printf("Received request msg: %s\n", request.DebugString().c_str());

    robot_ping::MainArmRespMsg reply;
    size_t frame_size = 0;
    bool sent = false;
    const int type = request.requesttype();
    switch (type) {
      case robot_ping::GetMainArmId:
        reply.set_requesttype(robot_ping::GetMainArmId);
        reply.set_id(kArmId);
        printf("Received request type: %d\n", type);
        sent = sendReply(*client_fd, reply, &frame_size);
        if (sent) printf("Sent response length: %zu\n", frame_size);
        break;
      case robot_ping::PostJointAngle: {
        std::vector<double> angles;
        if (request.has_angle()) {
          angles.assign(request.angle().angle().begin(), request.angle().angle().end());
        }
        reply.set_requesttype(robot_ping::PostJointAngle);
        reply.set_success(jointPos(angles, kRemoteScale, kRemoteScale));
        sent = sendReply(*client_fd, reply, &frame_size);
        break;
      }
      case robot_ping::PostEnablePower:
        reply.set_requesttype(robot_ping::PostEnablePower);
        reply.set_success(enableCmd(request.enablepower()));
        sent = sendReply(*client_fd, reply, &frame_size);
        break;
      default:
        continue;  // no reply to unknown types
    }
    if (!sent) {
      CloseClient(client_fd);
      return false;
    }
  }
  logDisconnect();
  CloseClient(client_fd);
  return false;
}

bool DriverCallServer::sendReply(int fd, const robot_ping::MainArmRespMsg& reply,
                                 size_t* frame_size) {
  std::string frame;
  if (!wire_frame::buildFrame(reply, &frame)) {
    fputs("Failed to serialize reply message.\n", stderr);
    return false;
  }
  fputs("Serialized response data: ", stdout);
  fwrite(frame.data() + wire_frame::kHeaderSize, 1, frame.size() - wire_frame::kHeaderSize,
         stdout);
  fputc('\n', stdout);
  if (!Send(fd, frame.data(), static_cast<int>(frame.size()))) {
    fputs("Failed to send reply.\n", stderr);
    return false;
  }
  *frame_size = frame.size();
  return true;
}

bool DriverCallServer::enableCmd(bool enable) {
  joint_move::queueEnableCmd(interpolator_, enable);
  bool state = !enable;
  bool all_off = false;
  for (int i = 0; i < kEnableChecks; ++i) {
    interpolator_->getEnableState(&state);
    // The all-axes state also reads false when one axis is off or cannot be
    // read, so power off is confirmed only by every axis reading torque off.
    interpolator_->getAllTorqueOff(&all_off);
    printf("The joint motor enable cmd is %d\n", enable ? 1 : 0);
    printf("The joint motor enable state is %d\n", state ? 1 : 0);
    if (state == enable && (enable || all_off)) return true;
    usleep(kEnableCheckPeriodUs);
  }
  puts("The joint motor enable cmd is timeout!");
  return false;
}

bool DriverCallServer::jointPos(const std::vector<double>& target, double vel_scale,
                                double /*acc_scale*/) {
  const joint_move::MoveResult queued = joint_move::submitJointMove(
      interpolator_, axis_num_, joint_move::JointMoveSource::kJointPos, target, vel_scale);
  if (!joint_move::isQueued(queued)) return false;

  std::this_thread::sleep_for(kSettleTime);
  std::vector<double> positions;
  for (int i = 0; i < kArrivalChecks; ++i) {
    interpolator_->getJointPositions(&positions);
    // A read that failed part-way leaves fewer positions: not arrived.
    bool arrived = positions.size() >= target.size();
    for (size_t j = 0; arrived && j < target.size(); ++j) {
      arrived = std::fabs(positions[j] - target[j]) <= kArrivalTolerance;
    }
    if (arrived) return true;
    usleep(kArrivalCheckPeriodUs);
  }
  return false;
}

bool DriverCallServer::planJointMove(const std::vector<double>& target, double scale) {
  return joint_move::isQueued(joint_move::planJointMove(interpolator_, axis_num_, target, scale));
}
