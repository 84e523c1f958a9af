#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>
#include <vector>

#include "init_motor_axises.h"

namespace {

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
  (void)argc;
  (void)argv;
  // Progress lines must reach a pipe or log file at once.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  puts("start tavrenk robot.");

  RobotPara robot_para = initMotorAxises();

  const float kPi = 3.1415927f;
  const float kHalfPi = 1.5707964f;
  const float kShoulderOffset = -1.44635403f;
  std::vector<float> theta_offset = {0.0f, kShoulderOffset, kShoulderOffset, 0.0f, 0.0f, 0.0f};
  std::vector<float> alpha = {0.0f, -kHalfPi, kPi, -kHalfPi, kHalfPi, -kHalfPi};
  std::vector<float> a = {0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f};
  std::vector<float> d = {328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f};
  printManipulatorTransform();

  std::cout << "主线程threadid:" << std::this_thread::get_id() << std::endl;
  sleep(2);
  (void)robot_para;
  return 0;
}
