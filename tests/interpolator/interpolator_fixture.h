#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "all_axises_joint_planner.h"
#include "arm_kinematics.h"
#include "interpolator.h"
#include "motor_io_cmd.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "test_motor.h"
#include "trapezoid_planner.h"

namespace interp_test {

inline int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) {
    ++n;
  }
  return n;
}

// Captures standard output until text() or the end of the scope, so a failed
// assertion cannot leave a capture open for the next one.
class Capture {
 public:
  Capture() { testing::internal::CaptureStdout(); }
  ~Capture() {
    if (open_) testing::internal::GetCapturedStdout();
  }
  std::string text() {
    open_ = false;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool open_ = true;
};

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

// An Interpolator over simulated motors, driven one pass at a time.
class InterpolatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const bool ready = [] {
      arm_test::reserveRosDomainId();
      rclcpp::init(0, nullptr);
      return true;
    }();
    (void)ready;
  }

  // Axis i: limit max_vel, max_acc, ratio (motor value = joint value * ratio).
  void makeArm(int axes = 6, bool enabled = true, double max_vel = 1.0, double max_acc = 2.0,
               std::vector<double> ratios = {}) {
    ip_.reset();
    motors_.clear();
    kin_ = std::make_unique<ArmKinematics>(
        std::vector<float>{0.0f, -1.44635403f, -1.44635403f, 0.0f, 0.0f, 0.0f},
        std::vector<float>{0.0f, -1.5707964f, 3.1415927f, -1.5707964f, 1.5707964f, -1.5707964f},
        std::vector<float>{0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f},
        std::vector<float>{328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f});
    para_.axis_num = axes;
    para_.axis_reserved.assign(axes, AxisReserved());
    para_.axis_paras.assign(axes, AxisPara());
    for (int i = 0; i < axes; ++i) {
      motors_.push_back(std::make_unique<TestMotor>(0.0, enabled));
      AxisPara& axis = para_.axis_paras[i];
      axis.max_vel = max_vel;
      axis.max_acc = max_acc;
      axis.ratio = ratios.empty() ? 1.0 : ratios[i];
      axis.motor = motors_.back().get();
    }
    ip_ = std::make_unique<Interpolator>(para_, kin_.get());
    ip_->startLoop();
  }

  void passes(int n) {
    for (int i = 0; i < n; ++i) ip_->runPass();
  }

  // Like the producers: synchronised trapezoids from the measured positions.
  AllAxisesJointPlanner* move(const std::vector<double>& to, double scale = 1.0) {
    auto* cmd = new AllAxisesJointPlanner();
    cmd->setPlannerType(kPlannerTrapezoid);
    RobotPara para = ip_->getRobotPara();
    cmd->setRobotPara(para);
    std::vector<TrajectoryInterface*> planners;
    for (int i = 0; i < para.axis_num; ++i) planners.push_back(new TrapezoidPlanner(1));
    cmd->setTrajInterfaces(planners);
    const std::vector<AxisState> states = ip_->getAxisStates();
    for (int i = 0; i < para.axis_num; ++i) {
      const AxisPara& axis = para.axis_paras[i];
      TrapezoidPlannerInput in;
      in.q0 = states[i].pos;
      in.q1 = to[i];
      in.vmax = axis.max_vel * scale;
      in.amax = axis.max_acc * scale;
      in.amin = -axis.max_acc * scale;
      cmd->setInput(i, &in);
    }
    cmd->plan();
    return cmd;
  }

  // Every axis follows f(axis, t) until end.
  AllAxisesJointPlanner* scripted(std::function<double(int, double)> f, double end) {
    auto* cmd = new AllAxisesJointPlanner();
    cmd->setPlannerType(kPlannerTrapezoid);
    cmd->setRobotPara(para_);
    std::vector<TrajectoryInterface*> planners;
    for (int i = 0; i < para_.axis_num; ++i) {
      planners.push_back(new ScriptedTrajectory([f, i](double t) { return f(i, t); }, end));
    }
    cmd->setTrajInterfaces(planners);
    cmd->plan();
    return cmd;
  }

  MotorIoCmd* ioCmd(int kind, bool on = true) {
    auto* cmd = new MotorIoCmd();
    cmd->setRobotPara(para_);
    if (kind == kMotorIoHome) {
      cmd->setHome();
    } else {
      cmd->setEnable(on);
    }
    return cmd;
  }

  // Runs passes until the queue is empty; false when it never empties.
  bool runUntilIdle(int max_passes) {
    for (int i = 0; i < max_passes; ++i) {
      ip_->runPass();
      std::lock_guard<std::mutex> lock(ip_->queue_mutex_);
      if (ip_->cmd_queue_.empty()) return true;
    }
    return false;
  }

  size_t queued() {
    std::lock_guard<std::mutex> lock(ip_->queue_mutex_);
    return ip_->cmd_queue_.size();
  }

  RobotPara para_;
  std::vector<std::unique_ptr<TestMotor>> motors_;
  std::unique_ptr<ArmKinematics> kin_;
  std::unique_ptr<Interpolator> ip_;
};

}  // namespace interp_test
