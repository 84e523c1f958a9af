#include "node_harness.h"

#include "child_process.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"

namespace node_test {

void NodeTest::SetUp() {
  domain_id_ = arm_test::reserveRosDomainId();
  const char* argv[] = {"node_test"};
  rclcpp::init(1, argv);
  arm_ = std::make_unique<arm_test::TestArm>();
  node_ = std::make_shared<RobotCmdRosTwoWrapper>(ip());
  spinner_ = std::thread([node = node_] { rclcpp::spin(node); });
}

void NodeTest::TearDown() {
  rclcpp::shutdown();
  if (spinner_.joinable()) spinner_.join();
  node_.reset();
  arm_.reset();
}

std::string NodeTest::runPeer(const std::vector<std::string>& steps) {
  std::vector<std::string> argv = {arm_test::executableDir() + "/node_peer", "wait_node"};
  argv.insert(argv.end(), steps.begin(), steps.end());
  arm_test::ChildProcess peer(argv, {{"ROS_DOMAIN_ID", std::to_string(domain_id_)}});
  const int status = peer.wait(60s);
  EXPECT_EQ(status, 0) << peer.output();
  return peer.output();
}

size_t NodeTest::queueSize() const {
  std::lock_guard<std::mutex> lock(ip()->queue_mutex_);
  return ip()->cmd_queue_.size();
}

bool NodeTest::waitForQueueSize(size_t n) const {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (queueSize() < n) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  // Give a message that should have been refused time to show up wrongly.
  std::this_thread::sleep_for(100ms);
  return queueSize() == n;
}

std::vector<std::unique_ptr<AbstractCmdInterface>> NodeTest::takeQueue() {
  std::lock_guard<std::mutex> lock(ip()->queue_mutex_);
  std::vector<std::unique_ptr<AbstractCmdInterface>> out;
  for (AbstractCmdInterface* cmd : ip()->cmd_queue_) out.emplace_back(cmd);
  ip()->cmd_queue_.clear();
  return out;
}

std::vector<TrapezoidPlannerInput> trapezoidInputs(AbstractCmdInterface* cmd) {
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
