#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "motion/commands/all_axises_joint_planner.h"
#include "robot_cmd_ros_two_wrapper.h"
#include "test_arm.h"

namespace node_test {

using namespace std::chrono_literals;

// One "robot_cmd_processor" on its own DDS domain, spun on a background
// thread over an Interpolator whose loop does not run, so queued commands
// stay in the queue for inspection. The peer program drives it over DDS.
class NodeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs node_peer with wait_node and the given steps; returns its output.
  std::string runPeer(const std::vector<std::string>& steps);
  size_t queueSize() const;
  // True once n commands are queued and no further one follows within 100 ms.
  bool waitForQueueSize(size_t n) const;
  // Takes every queued command off the queue; the caller owns them.
  std::vector<std::unique_ptr<AbstractCmdInterface>> takeQueue();
  Interpolator* ip() const { return arm_->interpolator.get(); }

  std::unique_ptr<arm_test::TestArm> arm_;
  std::shared_ptr<RobotCmdRosTwoWrapper> node_;
  std::thread spinner_;
  int domain_id_ = 0;
};

// The per-axis inputs of a queued trapezoid move whose axes all run
// synchronised (each must arrive with the slowest); empty otherwise.
std::vector<TrapezoidPlannerInput> trapezoidInputs(AbstractCmdInterface* cmd);

}  // namespace node_test
