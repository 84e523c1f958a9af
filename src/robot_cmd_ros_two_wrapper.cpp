#include "robot_cmd_ros_two_wrapper.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "motion/kinematics/kinematics_types.h"
#include "motion/loop/interpolator.h"
#include "motion/producers/joint_move_producer.h"

namespace {

constexpr std::chrono::milliseconds kStatePeriod(10);
constexpr int kFirstRotationIndex = 3;
constexpr int kPoseSize = 6;
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
  joint_move::planJointMove(interpolator_, axis_num_, target, scale);
}

void RobotCmdRosTwoWrapper::movjCallback(const std_msgs::msg::Float64MultiArray& msg) const {
  joint_move::submitJointMove(interpolator_, axis_num_, joint_move::JointMoveSource::kMovj, msg.data);
}

void RobotCmdRosTwoWrapper::jointPos(const std::vector<double>& target, double vel_scale,
                                     double /*unused*/) const {
  joint_move::submitJointMove(interpolator_, axis_num_, joint_move::JointMoveSource::kJointPos,
                              target, vel_scale);
}

void RobotCmdRosTwoWrapper::movjSCallback(
    std::shared_ptr<std_msgs::msg::Float64MultiArray> msg) const {
  joint_move::SplineMoveRequest req;
  const auto& dims = msg->layout.dim;
  req.layout_dims = dims.size();
  if (dims.size() >= 2) {
    req.points = static_cast<int32_t>(dims[0].size);
    req.columns = static_cast<uint32_t>(dims[1].size);
  }
  req.data = msg->data;
  joint_move::submitSplineMove(interpolator_, axis_num_, req);
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
  joint_move::submitJointMove(interpolator_, axis_num_, joint_move::JointMoveSource::kFollow,
                              target, joint_move::kFollowScale);
}
