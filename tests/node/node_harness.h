#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "arm_kinematics.h"
#include "interpolator.h"
#include "robot_cmd_ros_two_wrapper.h"
#include "robot_para.h"
#include "test_motor.h"

namespace node_test {

// Standard output and error of this process sent to one file, so the lines
// the node prints on its spin thread can be read back.
class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  std::string text() const;
  bool waitFor(const std::string& needle, std::chrono::milliseconds timeout) const;

 private:
  std::string path_;
  int saved_out_ = -1;
  int saved_err_ = -1;
};

// One "robot_cmd_processor" on its own DDS domain, spun on a background
// thread over an Interpolator whose loop does not run, so queued commands
// stay in the queue for inspection. A peer process drives it over DDS.
class NodeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs tests/node's peer with the given steps (wait_node is prepended) and
  // waits for it to finish; returns its output.
  std::string runPeer(const std::vector<std::string>& steps);

  size_t queueSize() const;
  // Takes every queued command off the queue; the caller owns them.
  std::vector<std::unique_ptr<AbstractCmdInterface>> takeQueue();
  bool waitForQueueSize(size_t n, std::chrono::milliseconds timeout) const;

  std::vector<std::unique_ptr<TestMotor>> motors_;
  std::unique_ptr<ArmKinematics> kinematics_;
  std::unique_ptr<Interpolator> interpolator_;
  std::shared_ptr<RobotCmdRosTwoWrapper> node_;
  std::unique_ptr<OutputCapture> capture_;
  std::thread spinner_;
  int domain_id_ = 0;
};

// The motor-axes set that start-up builds, over the given motors.
RobotPara makeArmPara(const std::vector<CtrlMotorInterface*>& motors);
ArmKinematics* makeArmKinematics();

// Counts how often needle occurs in text.
size_t countOf(const std::string& text, const std::string& needle);

}  // namespace node_test

#include "all_axises_joint_planner.h"
#include "motor_io_cmd.h"

namespace node_test {

// The per-axis inputs of a queued trapezoid move; empty when cmd is none.
std::vector<TrapezoidPlannerInput> trapezoidInputs(AbstractCmdInterface* cmd);
// The per-axis inputs of a queued cubic move; empty when cmd is none.
std::vector<CubicPlannerInput> cubicInputs(AbstractCmdInterface* cmd);

}  // namespace node_test
