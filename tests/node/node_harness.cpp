#include "node_harness.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "child_process.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"

namespace node_test {

using namespace std::chrono_literals;

OutputCapture::OutputCapture() {
  char tmpl[] = "/tmp/arm_node_out_XXXXXX";
  int fd = mkstemp(tmpl);
  path_ = tmpl;
  fflush(stdout);
  fflush(stderr);
  saved_out_ = dup(STDOUT_FILENO);
  saved_err_ = dup(STDERR_FILENO);
  dup2(fd, STDOUT_FILENO);
  dup2(fd, STDERR_FILENO);
  close(fd);
  // Line buffering so a line is in the file as soon as it is printed.
  setvbuf(stdout, nullptr, _IOLBF, 0);
}

OutputCapture::~OutputCapture() {
  const std::string captured = text();
  fflush(stdout);
  fflush(stderr);
  dup2(saved_out_, STDOUT_FILENO);
  dup2(saved_err_, STDERR_FILENO);
  close(saved_out_);
  close(saved_err_);
  unlink(path_.c_str());
  if (::testing::Test::HasFailure()) {
    fprintf(stdout, "---- output of the node ----\n%s\n----\n", captured.c_str());
  }
}

std::string OutputCapture::text() const {
  fflush(stdout);
  fflush(stderr);
  std::ifstream in(path_);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool OutputCapture::waitFor(const std::string& needle, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (text().find(needle) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

RobotPara makeArmPara(const std::vector<CtrlMotorInterface*>& motors) {
  const double kFastVel = 5.201081170943102;
  const double kShoulderVel = 2.0943951023931957;
  RobotPara para;
  para.axis_num = static_cast<int32_t>(motors.size());
  para.axis_reserved.resize(motors.size());
  para.axis_paras.resize(motors.size());
  for (size_t i = 0; i < motors.size(); ++i) {
    AxisPara& axis = para.axis_paras[i];
    axis.max_acc = 1.0;
    axis.ratio = 1.0;
    axis.max_vel = i == 1 ? kShoulderVel : kFastVel;
    axis.motor = motors[i];
  }
  return para;
}

ArmKinematics* makeArmKinematics() {
  const float kPi = 3.1415927f;
  const float kHalfPi = 1.5707964f;
  const float kOffset = -1.44635403f;
  return new ArmKinematics({0.0f, kOffset, kOffset, 0.0f, 0.0f, 0.0f},
                           {0.0f, -kHalfPi, kPi, -kHalfPi, kHalfPi, -kHalfPi},
                           {0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f},
                           {328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f});
}

size_t countOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++n;
  }
  return n;
}

void NodeTest::SetUp() {
  domain_id_ = arm_test::reserveRosDomainId();
  capture_ = std::make_unique<OutputCapture>();
  const char* argv[] = {"node_test"};
  rclcpp::init(1, argv);
  std::vector<CtrlMotorInterface*> motors;
  for (int i = 0; i < 6; ++i) {
    motors_.push_back(std::make_unique<TestMotor>());
    motors.push_back(motors_.back().get());
  }
  kinematics_.reset(makeArmKinematics());
  interpolator_ = std::make_unique<Interpolator>(makeArmPara(motors), kinematics_.get());
  node_ = std::make_shared<RobotCmdRosTwoWrapper>(interpolator_.get());
  std::shared_ptr<RobotCmdRosTwoWrapper> node = node_;
  spinner_ = std::thread([node] { rclcpp::spin(node); });
}

void NodeTest::TearDown() {
  rclcpp::shutdown();
  if (spinner_.joinable()) spinner_.join();
  node_.reset();
  interpolator_.reset();
  kinematics_.reset();
  motors_.clear();
  capture_.reset();
}

std::string NodeTest::runPeer(const std::vector<std::string>& steps) {
  std::vector<std::string> argv = {arm_test::executableDir() + "/node_peer", "wait_node"};
  argv.insert(argv.end(), steps.begin(), steps.end());
  arm_test::ChildProcess peer(argv, {{"ROS_DOMAIN_ID", std::to_string(domain_id_)}});
  const int status = peer.wait(60s);
  const std::string out = peer.output();
  EXPECT_EQ(status, 0) << out;
  return out;
}

size_t NodeTest::queueSize() const {
  std::lock_guard<std::mutex> lock(interpolator_->queue_mutex_);
  return interpolator_->cmd_queue_.size();
}

std::vector<std::unique_ptr<AbstractCmdInterface>> NodeTest::takeQueue() {
  std::lock_guard<std::mutex> lock(interpolator_->queue_mutex_);
  std::vector<std::unique_ptr<AbstractCmdInterface>> out;
  for (AbstractCmdInterface* cmd : interpolator_->cmd_queue_) out.emplace_back(cmd);
  interpolator_->cmd_queue_.clear();
  return out;
}

bool NodeTest::waitForQueueSize(size_t n, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (queueSize() < n) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

}  // namespace node_test

namespace node_test {

std::vector<TrapezoidPlannerInput> trapezoidInputs(AbstractCmdInterface* cmd) {
  std::vector<TrapezoidPlannerInput> out;
  auto* move = dynamic_cast<AllAxisesJointPlanner*>(cmd);
  if (move == nullptr || move->planner_type_ != kPlannerTrapezoid) return out;
  for (TrajectoryInterface* axis : move->traj_interface_ptrs_) {
    auto* trapezoid = dynamic_cast<TrapezoidPlanner*>(axis);
    if (trapezoid != nullptr) out.push_back(trapezoid->plannerInput());
  }
  return out;
}

std::vector<CubicPlannerInput> cubicInputs(AbstractCmdInterface* cmd) {
  std::vector<CubicPlannerInput> out;
  auto* move = dynamic_cast<AllAxisesJointPlanner*>(cmd);
  if (move == nullptr || move->planner_type_ != kPlannerCubic) return out;
  for (CubicPlanner* axis : move->cubicSpline_ptrs) {
    out.push_back(*static_cast<CubicPlannerInput*>(axis->input()));
  }
  return out;
}

}  // namespace node_test
