#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "motion/commands/all_axises_joint_planner.h"
#include "arm_model.h"
#include "motion/loop/interpolator.h"
#include "motion/commands/motor_io_cmd.h"
#include "ros_init.h"
#include "stdout_capture.h"
#include "test_motor.h"
#include "motion/planning/trapezoid_planner.h"

namespace interp_test {

using arm_test::countOf;
using Capture = arm_test::StdoutCapture;

// One axis that follows a position function of t, for samples no real
// planner gives (exactly at the limit, NaN, a jump).
class ScriptedTrajectory : public TrajectoryInterface {
 public:
  ScriptedTrajectory(std::function<double(double)> f, double end) : f_(std::move(f)), end_(end) {}
  int plan() override { return 0; }
  double position(int* finished, double t) const override {
    *finished = t >= end_ ? 1 : 0;
    return f_(t);
  }
  void* setInput(const void*) override { return nullptr; }
  void* input() override { return nullptr; }
  int rePlan(const TrapezoidTiming&) override { return 0; }
  double motionTime() const override { return end_; }
  const TrapezoidTiming* timing() const override { return nullptr; }

 private:
  std::function<double(double)> f_;
  double end_;
};

// Counts its deletions, to see that dropped commands are freed.
struct CountedMotorIoCmd : MotorIoCmd {
  explicit CountedMotorIoCmd(int* deleted) : deleted_(deleted) {}
  ~CountedMotorIoCmd() override { ++*deleted_; }
  int* deleted_;
};

// An Interpolator over simulated motors (motor value = joint value), driven
// one pass at a time.
class InterpolatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { arm_test::initRosOnce(); }

  void makeArm(int axes = 6, bool enabled = true, double max_vel = 1.0, double max_acc = 2.0,
               const std::vector<double>& ratios = {}) {
    ip_.reset();
    motors_.clear();
    para_.axis_num = axes;
    para_.axis_reserved.assign(axes, AxisReserved());
    para_.axis_paras.assign(axes, AxisPara());
    for (int i = 0; i < axes; ++i) {
      motors_.push_back(std::make_unique<TestMotor>(0.0, enabled));
      para_.axis_paras[i] = {max_vel, max_acc, ratios.empty() ? 1.0 : ratios[i], motors_.back().get()};
    }
    ip_ = std::make_unique<Interpolator>(para_, &kin_);
    ip_->startLoop();
  }

  void passes(int n) {
    for (int i = 0; i < n; ++i) ip_->runPass();
  }

  // Like the producers: synchronised trapezoids from the measured positions.
  AllAxisesJointPlanner* move(const std::vector<double>& to) {
    const std::vector<AxisState> states = ip_->getAxisStates();
    return planned([&](int i, const AxisPara& a) -> TrajectoryInterface* {
      auto* p = new TrapezoidPlanner(1);
      const TrapezoidPlannerInput in{0.0, states[i].pos, to[i], 0.0, 0.0, a.max_vel, a.max_acc, -a.max_acc};
      p->setInput(&in);
      return p;
    });
  }

  // Every axis follows f(axis, t) until end.
  AllAxisesJointPlanner* scripted(std::function<double(int, double)> f, double end) {
    return planned([&](int i, const AxisPara&) -> TrajectoryInterface* {
      return new ScriptedTrajectory([f, i](double t) { return f(i, t); }, end);
    });
  }

  MotorIoCmd* enableCmd(bool on, MotorIoCmd* cmd = new MotorIoCmd()) {
    cmd->setRobotPara(para_);
    cmd->setEnable(on);
    return cmd;
  }

  // Runs passes until the queue is empty; false when it never empties.
  bool runUntilIdle(int max_passes) {
    for (int i = 0; i < max_passes; ++i) {
      ip_->runPass();
      if (queued() == 0) return true;
    }
    return false;
  }

  size_t queued() {
    std::lock_guard<std::mutex> lock(ip_->queue_mutex_);
    return ip_->cmd_queue_.size();
  }

  RobotPara para_;
  std::vector<std::unique_ptr<TestMotor>> motors_;
  ArmKinematics kin_ = arm_test::makeArmKinematics();
  std::unique_ptr<Interpolator> ip_;

 private:
  AllAxisesJointPlanner* planned(const std::function<TrajectoryInterface*(int, const AxisPara&)>& make) {
    auto* cmd = new AllAxisesJointPlanner();
    cmd->setPlannerType(kPlannerTrapezoid);
    cmd->setRobotPara(para_);
    std::vector<TrajectoryInterface*> planners;
    for (int i = 0; i < para_.axis_num; ++i) planners.push_back(make(i, para_.axis_paras[i]));
    cmd->setTrajInterfaces(planners);
    cmd->plan();
    return cmd;
  }
};

}  // namespace interp_test
