#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "all_axises_joint_planner.h"
#include "child_process.h"
#include "rclcpp/rclcpp.hpp"
#include "robot_cmd_ros_two_wrapper.h"
#include "ros_domain.h"
#include "test_arm.h"

namespace node_test {

using namespace std::chrono_literals;

// One "robot_cmd_processor" on its own DDS domain, spun on a background
// thread over an Interpolator whose loop does not run, so queued commands
// stay in the queue for inspection. The peer program drives it over DDS.
class NodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    domain_id_ = arm_test::reserveRosDomainId();
    const char* argv[] = {"node_test"};
    rclcpp::init(1, argv);
    arm_ = std::make_unique<arm_test::TestArm>();
    node_ = std::make_shared<RobotCmdRosTwoWrapper>(ip());
    spinner_ = std::thread([node = node_] { rclcpp::spin(node); });
  }
  void TearDown() override {
    rclcpp::shutdown();
    if (spinner_.joinable()) spinner_.join();
    node_.reset();
    arm_.reset();
  }

  // Runs node_peer with wait_node and the given steps.
  void runPeer(const std::vector<std::string>& steps) {
    std::vector<std::string> argv = {arm_test::executableDir() + "/node_peer", "wait_node"};
    argv.insert(argv.end(), steps.begin(), steps.end());
    arm_test::ChildProcess peer(argv, {{"ROS_DOMAIN_ID", std::to_string(domain_id_)}});
    EXPECT_EQ(peer.wait(60s), 0) << peer.output();
  }

  size_t queueSize() const {
    std::lock_guard<std::mutex> lock(ip()->queue_mutex_);
    return ip()->cmd_queue_.size();
  }

  // True once n commands are queued and no further one follows within 100 ms.
  bool waitForQueueSize(size_t n) const {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (queueSize() < n) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
    // Give a message that should have been refused time to show up wrongly.
    std::this_thread::sleep_for(100ms);
    return queueSize() == n;
  }

  // Takes every queued command off the queue; the caller owns them.
  std::vector<std::unique_ptr<AbstractCmdInterface>> takeQueue() {
    std::lock_guard<std::mutex> lock(ip()->queue_mutex_);
    std::vector<std::unique_ptr<AbstractCmdInterface>> out;
    for (AbstractCmdInterface* cmd : ip()->cmd_queue_) out.emplace_back(cmd);
    ip()->cmd_queue_.clear();
    return out;
  }
  Interpolator* ip() const { return arm_->interpolator.get(); }

  std::unique_ptr<arm_test::TestArm> arm_;
  std::shared_ptr<RobotCmdRosTwoWrapper> node_;
  std::thread spinner_;
  int domain_id_ = 0;
};

// The per-axis inputs of a queued trapezoid move whose axes all run
// synchronised (each must arrive with the slowest); empty otherwise.
inline std::vector<TrapezoidPlannerInput> trapezoidInputs(AbstractCmdInterface* cmd) {
  std::vector<TrapezoidPlannerInput> out;
  auto* move = dynamic_cast<AllAxisesJointPlanner*>(cmd);
  if (move == nullptr || move->planner_type_ != kPlannerTrapezoid) return out;
  for (TrajectoryInterface* axis : move->traj_interface_ptrs_) {
    auto* trapezoid = dynamic_cast<TrapezoidPlanner*>(axis);
    if (trapezoid != nullptr && trapezoid->isSync() == 1) out.push_back(trapezoid->plannerInput());
  }
  return out;
}

}  // namespace node_test
