#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "arm_dh_columns.h"
#include "motion/kinematics/arm_kinematics.h"
#include "server/driver_call_server.h"
#include "server/driver_stream_server.h"
#include "init_motor_axises.h"
#include "motion/loop/interpolator.h"
#include "rclcpp/rclcpp.hpp"
#include "robot_cmd_ros_two_wrapper.h"

namespace {

constexpr const char* kListenAddress = "127.0.0.1";
constexpr uint32_t kCallServerPort = 8007;
constexpr uint32_t kStreamServerPort = 8006;
constexpr unsigned kStartPauseSeconds = 2;
// glibc's own default, pinned: left dynamic, the threshold rises to 1 MiB once
// DDS frees its first 1 MiB receive buffer, and every later buffer then stays
// resident in a receive thread's arena instead of going back to the system.
constexpr int kMmapThresholdBytes = 128 * 1024;

// Printed at start-up only; nothing else uses it.
void printManipulatorTransform() {
  const double transform[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, -50}};
  const float last_row[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  printf("Manipolator SE(3) = ");
  for (const auto& row : transform) {
    printf("%f  %f  %f  %f\n", row[0], row[1], row[2], row[3]);
  }
  printf("%f  %f  %f  %f\n\n", last_row[0], last_row[1], last_row[2], last_row[3]);
}

}  // namespace

int main(int argc, char** argv) {
  // Progress lines must reach a pipe or log file at once.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
  puts("start tavrenk robot.");
  // rclcpp throws when ROS 2 cannot start (no DDS participant): end here,
  // before any thread, port or servo is touched, with the reason on one line.
  try {
    rclcpp::init(argc, argv);
  } catch (const std::exception& e) {
    fprintf(stderr, "ROS 2 could not start: %s\n", e.what());
    return 1;
  }

  RobotPara robot_para = initMotorAxises();

  const ArmDhColumns dh = armDhColumns();
  printManipulatorTransform();

  // Both live for the whole process; the threads below keep using them.
  ArmKinematics* kinematics = new ArmKinematics(dh.theta_offset, dh.alpha, dh.a, dh.d);
  Interpolator* interpolator = new Interpolator(robot_para, kinematics);

  std::cout << "主线程threadid:" << std::this_thread::get_id() << std::endl;
  sleep(kStartPauseSeconds);
  // main owns the interpolation thread and joins it last; run() never
  // returns, so main stays in that join while the other threads serve.
  std::thread interpolation_thread(&Interpolator::run, interpolator);

  // Never destroyed: their accept threads (and the stream sender) serve for
  // the life of the process.
  auto call_server = std::make_shared<DriverCallServer>(kListenAddress, kCallServerPort, interpolator);
  auto stream_server = std::make_shared<DriverStreamServer>(kListenAddress, kStreamServerPort, interpolator);
  call_server->Start();
  puts("Create call server on port 8007.");
  stream_server->Start();
  puts("Create stream server on port 8006.");

  {
    auto node = std::make_shared<RobotCmdRosTwoWrapper>(interpolator);
    rclcpp::spin(node);
  }
  rclcpp::shutdown();
  interpolation_thread.join();
  return 0;
}
