#pragma once

#include <memory>
#include <vector>

#include "arm_model.h"
#include "motion/loop/interpolator.h"
#include "motion/commands/robot_para.h"
#include "test_motor.h"

namespace arm_test {

// The six-joint A arm as start-up builds it (the shoulder slower, unit
// acceleration) over simulated motors, behind a real Interpolator whose loop
// runs only when a test drives it. The process must have called rclcpp::init.
struct TestArm {
  explicit TestArm(const std::vector<double>& start = std::vector<double>(6, 0.0)) {
    kinematics = std::make_unique<ArmKinematics>(makeArmKinematics());
    para.axis_num = static_cast<int32_t>(start.size());
    para.axis_reserved.resize(start.size());
    for (size_t i = 0; i < start.size(); ++i) {
      motors.push_back(std::make_unique<TestMotor>(start[i], false));
      para.axis_paras.push_back({i == 1 ? kShoulderVel : kFastVel, 1.0, 1.0, motors.back().get()});
    }
    interpolator = std::make_unique<Interpolator>(para, kinematics.get());
  }

  static constexpr double kFastVel = 5.201081170943102;
  static constexpr double kShoulderVel = 2.0943951023931957;

  std::vector<std::unique_ptr<TestMotor>> motors;
  RobotPara para;
  std::unique_ptr<ArmKinematics> kinematics;
  std::unique_ptr<Interpolator> interpolator;
};

}  // namespace arm_test
