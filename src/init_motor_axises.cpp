#include "init_motor_axises.h"

#include <cstdio>

#include "motor/bus_servo_motor.h"
#include "motor/virtual_motor.h"

namespace {

constexpr int32_t kAxisNum = 6;
constexpr double kJointMaxVel = 5.201081170943102;   // 298 deg/s
constexpr double kShoulderMaxVel = 2.0943951023931957;  // 120 deg/s, axis 2
constexpr double kAxisMaxAcc = 1.0;
constexpr double kAxisRatio = 1.0;
constexpr uint8_t kReverseFlags[kAxisNum] = {1, 0, 0, 1, 0, 1};

}  // namespace

RobotPara initMotorAxises() {
  RobotPara para;
  para.axis_num = kAxisNum;
  para.axis_reserved.resize(kAxisNum);
  para.axis_paras.resize(kAxisNum);
  puts("*******start init motor axises*******");
  for (int32_t i = 0; i < para.axis_num; ++i) {
    AxisPara& axis = para.axis_paras[i];
    const uint32_t servo_id = static_cast<uint32_t>(i + 1);
    axis.motor = new busServoMotor(servo_id, kReverseFlags[i]);
    axis.max_acc = kAxisMaxAcc;
    axis.ratio = kAxisRatio;
    // Axis 2's limit is a joint value; the others are motor values.
    axis.max_vel = (i == 1) ? kShoulderMaxVel : kJointMaxVel / axis.ratio;
    if (axis.motor->init() != 0) {
      printf("=========>axis %d init error!\n", i + 1);
      axis.motor = new VirtualMotor(i, kReverseFlags[i]);
    }
  }
  printf("The robot has %d axises.\n", para.axis_num);
  return para;
}
