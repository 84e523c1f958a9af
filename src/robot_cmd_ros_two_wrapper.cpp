#include "robot_cmd_ros_two_wrapper.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "motion/commands/all_axises_joint_planner.h"
#include "motion/planning/cubic_planner.h"
#include "motion/loop/interpolator.h"
#include "motion/producers/joint_move_producer.h"

namespace {

constexpr std::chrono::milliseconds kStatePeriod(10);
// 180 / 3.14159275, not 180 / pi: the arm's own degree factor, shared with
// the stream server so both report the same angles.
constexpr double kRadToDeg = 57.295777754771045;
constexpr double kFollowScale = 0.4;
constexpr int32_t kMinSplinePoints = 4;
// A point list needs both sizes: points, and values per point.
constexpr size_t kMovjSDims = 2;
constexpr int kFirstRotationIndex = 3;
constexpr int kPoseSize = 6;
constexpr int kTargetJoints = 6;
const char* const kJointFrameId = "  ";

}  // namespace

RobotCmdRosTwoWrapper::RobotCmdRosTwoWrapper(Interpolator* interpolator)
    : rclcpp::Node("robot_cmd_processor"),
      interpolator_(interpolator),
      axis_num_(interpolator->getRobotPara().axis_num) {
  using std::placeholders::_1;
  using Self = RobotCmdRosTwoWrapper;
  test_sub_ = create_subscription<std_msgs::msg::String>(
      "test_topic", rclcpp::QoS(10), std::bind(&Self::testCallback, this, _1));
  stop_sub_ = create_subscription<std_msgs::msg::String>(
      "stop_topic", rclcpp::QoS(1), std::bind(&Self::stopCallback, this, _1));
  serve_on_sub_ = create_subscription<std_msgs::msg::Bool>(
      "serve_on_topic", rclcpp::QoS(1), std::bind(&Self::serveOnCallback, this, _1));
  movj_sub_ = create_subscription<std_msgs::msg::Float64MultiArray>(
      "movj_topic", rclcpp::QoS(10), std::bind(&Self::movjCallback, this, _1));
  movj_s_sub_ = create_subscription<std_msgs::msg::Float64MultiArray>(
      "movj_s_topic", rclcpp::QoS(10), std::bind(&Self::movjSCallback, this, _1));
  set_home_sub_ = create_subscription<std_msgs::msg::String>(
      "set_home_topic", rclcpp::QoS(10), std::bind(&Self::setHomeCallback, this, _1));
  recover_sub_ = create_subscription<std_msgs::msg::Bool>(
      "recover_topic", rclcpp::QoS(1), std::bind(&Self::recoverCallback, this, _1));
  a_arm_joint_pos_pub_ =
      create_publisher<sensor_msgs::msg::JointState>("A_arm_joint_pos_topic", rclcpp::QoS(10));
  a_arm_tcp_posture_pub_ = create_publisher<std_msgs::msg::Float64MultiArray>(
      "A_arm_tcp_posture_topic", rclcpp::QoS(10));
  a_arm_motor_enable_pub_ =
      create_publisher<std_msgs::msg::Bool>("A_arm_motor_enable_topic", rclcpp::QoS(10));
  grasp_button_sub_ = create_subscription<std_msgs::msg::Bool>(
      "grasp_button_topic", rclcpp::QoS(1), std::bind(&Self::graspButtonCallback, this, _1));
  timer_ = create_wall_timer(kStatePeriod, std::bind(&Self::timerCallback, this));
  follow_b_arm_sub_ = create_subscription<std_msgs::msg::String>(
      "follow_b_arm_topic", rclcpp::QoS(10), std::bind(&Self::followBarmCallback, this, _1));
  b_arm_joint_pos_sub_ = create_subscription<sensor_msgs::msg::JointState>(
      "B_arm_joint_pos_topic", rclcpp::QoS(10), std::bind(&Self::getBarmCallback, this, _1));
  puts("---robot_cmd_processor node init. ---");
}

RobotCmdRosTwoWrapper::~RobotCmdRosTwoWrapper() = default;

void RobotCmdRosTwoWrapper::testCallback(const std_msgs::msg::String& /*msg*/) const {}

void RobotCmdRosTwoWrapper::stopCallback(const std_msgs::msg::String& msg) const {
  RCLCPP_INFO(get_logger(), "I should stop: '%s'", msg.data.c_str());
  interpolator_->stop();
}

void RobotCmdRosTwoWrapper::serveOnCallback(const std_msgs::msg::Bool& msg) const {
  printf("I set serve command: %d\n", msg.data ? 1 : 0);
  joint_move::queueEnableCmd(interpolator_, msg.data);
}

void RobotCmdRosTwoWrapper::enableCmd(bool on) const {
  joint_move::queueEnableCmd(interpolator_, on);
}

void RobotCmdRosTwoWrapper::setHomeCallback(const std_msgs::msg::String& msg) const {
  RCLCPP_INFO(get_logger(), "I should setHome: '%s'", msg.data.c_str());
  joint_move::queueHomeCmd(interpolator_);
}

void RobotCmdRosTwoWrapper::recoverCallback(const std_msgs::msg::Bool& msg) const {
  printf("I get recover command: %d\n", msg.data ? 1 : 0);
  interpolator_->setAbnormalFlag(false);
  puts("The system abnormal_flag has been recover.");
}

void RobotCmdRosTwoWrapper::graspButtonCallback(const std_msgs::msg::Bool& msg) {
  interpolator_->setGripSignal(msg.data);
  std::lock_guard<std::mutex> lock(grasp_mutex_);
  grip_signal_ = msg.data;
}

void RobotCmdRosTwoWrapper::timerCallback() {
  std::vector<double> joints;
  interpolator_->getJointPositions(&joints);

  sensor_msgs::msg::JointState joint_state;
  joint_state.header.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  joint_state.header.frame_id = kJointFrameId;
  joint_state.name.reserve(axis_num_ > 0 ? axis_num_ : 0);
  joint_state.position.reserve(axis_num_ > 0 ? axis_num_ : 0);
  for (int32_t i = 0; i < axis_num_; ++i) {
    joint_state.name.push_back("joint" + std::to_string(i + 1));
    // A reading that failed part-way is shorter; the gaps go out as 0.0.
    joint_state.position.push_back(static_cast<size_t>(i) < joints.size() ? joints[i] : 0.0);
  }
  a_arm_joint_pos_pub_->publish(joint_state);

  std::vector<double> pose;
  interpolator_->getPose(&pose);
  std_msgs::msg::Float64MultiArray posture;
  posture.data = std::move(pose);
  for (int i = kFirstRotationIndex; i < kPoseSize && static_cast<size_t>(i) < posture.data.size();
       ++i) {
    posture.data[i] *= kRadToDeg;
  }
  a_arm_tcp_posture_pub_->publish(posture);

  bool enabled = false;
  interpolator_->getEnableState(&enabled);
  std_msgs::msg::Bool enable_msg;
  enable_msg.data = enabled;
  a_arm_motor_enable_pub_->publish(enable_msg);
}

void RobotCmdRosTwoWrapper::getBarmCallback(const sensor_msgs::msg::JointState& msg) {
  if (axis_num_ < 0 || msg.position.size() != static_cast<size_t>(axis_num_)) {
    RCLCPP_INFO(get_logger(), "Get robot joint num not equal 6!");
    return;
  }
  std::lock_guard<std::mutex> lock(b_arm_mutex_);
  b_arm_joint_pos_ = msg.position;
}

void RobotCmdRosTwoWrapper::planJointMove(const std::vector<double>& target, double scale) const {
  joint_move::planJointMove(interpolator_, target, axis_num_, scale);
}

void RobotCmdRosTwoWrapper::movjCallback(const std_msgs::msg::Float64MultiArray& msg) const {
  if (joint_move::refuseWhenAbnormal(interpolator_)) {
    return;
  }
  const std::vector<double> data = msg.data;
  const int64_t axis_num = interpolator_->getRobotPara().axis_num;
  if (static_cast<int64_t>(data.size()) != axis_num + 1 || axis_num < kTargetJoints) {
    printf("We recieve the wrong movj cmd size=<%d>, not euqal (axis_num+1)",
           static_cast<int>(data.size()));
    return;
  }
  const std::vector<double> target = interpolator_->extractJoints(data, 1, kTargetJoints);

  puts("I recieve movj:");
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    printf("%lf,", data[i]);
  }
  printf(";velocity %% = %lf;\n", data.back());

  if (!joint_move::checkJointRange(interpolator_, data, axis_num_)) {
    return;
  }
  planJointMove(target, joint_move::clampVelocityScale(data.back()));
}

void RobotCmdRosTwoWrapper::jointPos(const std::vector<double>& target, double vel_scale,
                                     double /*unused*/) const {
  if (joint_move::refuseWhenAbnormal(interpolator_)) {
    return;
  }
  if (static_cast<int64_t>(target.size()) != axis_num_ || axis_num_ < kTargetJoints) {
    printf("We recieve the wrong joint_pos cmd size=<%d>, not euqal axis_num",
           static_cast<int>(target.size()));
    return;
  }
  const std::vector<double> joints = interpolator_->extractJoints(target, 1, kTargetJoints);
  if (!joint_move::checkJointRange(interpolator_, target, axis_num_)) {
    return;
  }
  planJointMove(joints, joint_move::clampVelocityScale(vel_scale));
}

void RobotCmdRosTwoWrapper::movjSCallback(
    std::shared_ptr<std_msgs::msg::Float64MultiArray> msg) const {
  if (joint_move::refuseWhenAbnormal(interpolator_)) {
    return;
  }
  const std::vector<double> data = msg->data;
  const auto& dims = msg->layout.dim;
  if (dims.size() < kMovjSDims) {
    printf("We recieve the wrong movj_s cmd layout dim=<%d>, not euqal 2\n",
           static_cast<int>(dims.size()));
    return;
  }
  const int32_t points = static_cast<int32_t>(dims[0].size);
  const uint32_t columns = static_cast<uint32_t>(dims[1].size);
  if (points < kMinSplinePoints) {
    puts("There are not eough point to get cubicspline.");
    return;
  }
  if (axis_num_ < kTargetJoints || columns != static_cast<uint32_t>(axis_num_) + 1) {
    printf("We recieve the wrong movj cmd size=<%d>, not euqal (axis_num+1)",
           static_cast<int>(data.size()));
    return;
  }
  // Both factors are below 2^32, so the product cannot overflow 64 bits.
  const uint64_t needed = static_cast<uint64_t>(points) * columns;
  if (static_cast<uint64_t>(data.size()) < needed) {
    printf("We recieve the wrong movj_s cmd size=<%d>, less than points*(axis_num+1)=<%llu>\n",
           static_cast<int>(data.size()), static_cast<unsigned long long>(needed));
    return;
  }

  const size_t rows = static_cast<size_t>(points);
  const size_t stride = columns;
  std::vector<double> times(rows);
  for (size_t p = 0; p < rows; ++p) {
    times[p] = data[p * stride + stride - 1];
  }

  puts("I recieve movj_s:");
  for (size_t p = 0; p < rows; ++p) {
    for (size_t j = 0; j + 1 < stride; ++j) {
      printf("%lf,", data[p * stride + j]);
    }
    printf(";Time (s) = %lf;\n", times[p]);
  }

  for (size_t p = 0; p < rows; ++p) {
    const int axis = joint_move::firstAxisOverRange(interpolator_, &data[p * stride],
                                                    static_cast<int>(stride - 1), axis_num_);
    if (axis >= 0) {
      printf("The %dst point %dst axim angle is over range.Please send viable command again.\n",
             static_cast<int>(p + 1), axis + 1);
      return;
    }
  }
  // A spline through times that stand still or run backwards has no solution.
  for (size_t p = 0; p < rows; ++p) {
    if (!std::isfinite(times[p]) || (p > 0 && !(times[p] > times[p - 1]))) {
      printf("The %dst point time (s) = %lf does not come after the point before.Please send "
             "viable command again.\n",
             static_cast<int>(p + 1), times[p]);
      return;
    }
  }

  auto* cmd = new AllAxisesJointPlanner();
  cmd->setPlannerType(kPlannerCubic);
  std::vector<CubicPlanner*> splines;
  splines.reserve(static_cast<size_t>(axis_num_));
  for (int32_t j = 0; j < axis_num_; ++j) {
    splines.push_back(new CubicPlanner());
  }
  cmd->setRobotPara(interpolator_->getRobotPara());
  cmd->setCubicSplines(splines);
  if (cmd->cubicSpline_ptrs.size() != splines.size()) {
    // A refused list stays ours.
    for (CubicPlanner* spline : splines) delete spline;
    delete cmd;
    return;
  }
  for (int32_t j = 0; j < axis_num_; ++j) {
    CubicPlannerInput input;
    input.positions.reserve(rows);
    for (size_t p = 0; p < rows; ++p) {
      input.positions.push_back(data[p * stride + static_cast<size_t>(j)]);
    }
    input.times = times;
    cmd->setInput(j, &input);
  }
  cmd->plan();
  // The spline's end becomes the next move's start, so it must not be queued
  // between another producer's start fetch and its insert.
  std::lock_guard<std::mutex> turn(interpolator_->producer_mutex_);
  interpolator_->insertCmd(cmd);
}

void RobotCmdRosTwoWrapper::followBarmCallback(const std_msgs::msg::String& /*msg*/) {
  RCLCPP_INFO(get_logger(), "A arm start follow B arm current pos.");
  std::vector<double> target;
  {
    std::lock_guard<std::mutex> lock(b_arm_mutex_);
    target = b_arm_joint_pos_;
  }
  if (target.empty()) {
    RCLCPP_INFO(get_logger(), "ERROR: Cannot get B arm current pos.");
    return;
  }
  if (!joint_move::checkJointRange(interpolator_, target, axis_num_)) {
    return;
  }
  planJointMove(target, kFollowScale);
}
