#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Collision/moving_average_filter.h"
#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"

// The node "collision_detector": compares smoothed joint torques with learned
// maxima times safe_rate. The maxima live in "torque_max.txt" in the working
// directory, read on the first detection step.
class CollisionDetector_AT : public rclcpp::Node {
 public:
  CollisionDetector_AT();
  virtual ~CollisionDetector_AT();

  // One detection step: detection_result (0 or 1), or -1 when there is no
  // torque or the torque count differs from the first step's.
  int detect(const std::vector<double>& torque, const std::vector<double>& joint_pos,
             const std::vector<double>& joint_vel, bool learn, bool publish, bool print,
             double time);
  std::vector<double> resultData() const;
  void publishResult();
  void myCallback(std::shared_ptr<std_msgs::msg::Float64MultiArray> msg);
  void myCallback2(std::shared_ptr<std_msgs::msg::Bool> msg);

  bool init_flag_ = true;
  double start_time_ = 0.0;
  double identification_time_ = 5.0;
  bool identification_flag_ = false;
  bool save_flag_ = false;
  double time_cur = 0.0;
  std::vector<double> torque_cur;
  std::vector<double> joint_pos_;
  std::vector<double> joint_vel_;
  std::vector<double> torque_in_;
  std::vector<double> joint_pos_in_;
  std::vector<double> joint_vel_in_;
  MovingAverageFilter filter_;
  double safe_rate = 1.5;
  std::vector<double> torque_max;
  std::vector<double> collision_flags_;
  int32_t detection_result = 0;
  rclcpp::Publisher<std_msgs::msg::Float64MultiArray>::SharedPtr result_pub_;
  rclcpp::Subscription<std_msgs::msg::Float64MultiArray>::SharedPtr joint_states_sub_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr identification_flag_sub_;

 private:
  void loadTorqueMax();
  void saveTorqueMax();
  void printTorqueMax() const;
};
