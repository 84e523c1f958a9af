#include "Collision/collision_detector_at.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <string>

namespace {
constexpr const char* kTorqueMaxFile = "torque_max.txt";
constexpr size_t kQueueDepth = 10;
constexpr uint32_t kFilterWindow = 6;
constexpr double kDefaultSafeRate = 1.5;
constexpr double kDefaultTorqueMax = 100.0;
// Number of per-joint blocks announced in the result array.
constexpr double kResultBlocks = 6.0;

// Next whitespace-separated value of the file, when it is a finite positive number.
bool readPositive(std::istream& in, double* value) {
  std::string token;
  if (!(in >> token)) {
    return false;
  }
  char* end = nullptr;
  const double v = std::strtod(token.c_str(), &end);
  if (end == token.c_str() || *end != '\0' || !std::isfinite(v) || v <= 0.0) {
    return false;
  }
  *value = v;
  return true;
}
}  // namespace

CollisionDetector_AT::CollisionDetector_AT() : rclcpp::Node("collision_detector") {
  result_pub_ = create_publisher<std_msgs::msg::Float64MultiArray>("collision_data_result",
                                                                   rclcpp::QoS(kQueueDepth));
  joint_states_sub_ = create_subscription<std_msgs::msg::Float64MultiArray>(
      "collision_joint_states", rclcpp::QoS(kQueueDepth),
      std::bind(&CollisionDetector_AT::myCallback, this, std::placeholders::_1));
  identification_flag_sub_ = create_subscription<std_msgs::msg::Bool>(
      "collision_identification_flag", rclcpp::QoS(kQueueDepth),
      std::bind(&CollisionDetector_AT::myCallback2, this, std::placeholders::_1));
}

CollisionDetector_AT::~CollisionDetector_AT() {}

void CollisionDetector_AT::printTorqueMax() const {
  for (size_t i = 0; i < torque_max.size(); ++i) {
    std::cout << "torque_max[" << static_cast<unsigned>(i) << "]: " << torque_max[i] << std::endl;
  }
}

void CollisionDetector_AT::loadTorqueMax() {
  std::ifstream in(kTorqueMaxFile);
  if (in.is_open()) {
    // A damaged file must not leave a joint with a threshold of 0 or NaN.
    if (!readPositive(in, &safe_rate)) {
      safe_rate = kDefaultSafeRate;
      std::cout << "torque_max.txt holds no valid safe_rate, " << kDefaultSafeRate << " is used."
                << std::endl;
    }
    for (size_t i = 0; i < torque_max.size(); ++i) {
      if (!readPositive(in, &torque_max[i])) {
        torque_max[i] = kDefaultTorqueMax;
        std::cout << "torque_max.txt holds no valid torque_max[" << static_cast<unsigned>(i)
                  << "], " << kDefaultTorqueMax << " is used." << std::endl;
      }
    }
    in.close();
  } else {
    std::cout << "torque_max.txt not found!" << std::endl;
    safe_rate = kDefaultSafeRate;
    for (double& v : torque_max) {
      v = kDefaultTorqueMax;
    }
    save_flag_ = true;
  }
  std::cout << "in_txt_file:" << std::endl;
  printTorqueMax();
}

void CollisionDetector_AT::saveTorqueMax() {
  std::ofstream out(kTorqueMaxFile, std::ios::out | std::ios::trunc);
  if (out.is_open()) {
    out << std::fixed << std::setprecision(8) << safe_rate << ' ';
    for (double v : torque_max) {
      out << v << ' ';
    }
    out.close();
  }
  if (!out) {
    std::cout << "torque_max.txt could not be saved!" << std::endl;
  }
  std::cout << "out_txt_file:" << std::endl;
  printTorqueMax();
}

int CollisionDetector_AT::detect(const std::vector<double>& torque,
                                 const std::vector<double>& joint_pos,
                                 const std::vector<double>& joint_vel, bool learn, bool publish,
                                 bool print, double time) {
  // The first step fixes the joint count; the filter and the maxima depend on it.
  if (!init_flag_ && torque.size() != torque_max.size()) {
    std::cout << "Error: " << torque.size() << " torques given, the detector watches "
              << torque_max.size() << " joints; step refused." << std::endl;
    return -1;
  }

  torque_in_ = torque;
  joint_pos_in_ = joint_pos;
  joint_vel_in_ = joint_vel;
  time_cur = time;
  torque_cur = filter_.filter(torque, kFilterWindow);
  joint_pos_ = joint_pos;
  joint_vel_ = joint_vel;

  if (init_flag_) {
    start_time_ = time;
    identification_flag_ = learn;
    torque_max.assign(torque_cur.size(), 0.0);
    collision_flags_.assign(torque_cur.size(), 0.0);
    if (!learn) {
      loadTorqueMax();
    }
    init_flag_ = false;
  }

  if (learn && identification_flag_ && time_cur - start_time_ > identification_time_) {
    identification_flag_ = false;
    save_flag_ = true;
  }

  if (save_flag_) {
    saveTorqueMax();
    save_flag_ = false;
  }

  detection_result = 0;
  for (size_t i = 0; i < torque_cur.size(); ++i) {
    collision_flags_[i] = 0.0;
  }

  if (torque_cur.empty()) {
    std::cout << "Error: torque is not specified." << std::endl;
    return -1;
  }

  if (!identification_flag_) {
    for (size_t i = 0; i < torque_cur.size(); ++i) {
      if (std::fabs(torque_cur[i]) > safe_rate * torque_max[i]) {
        collision_flags_[i] = 1.0;
        detection_result = 1;
      }
    }
  } else {
    for (size_t i = 0; i < torque_cur.size(); ++i) {
      if (std::fabs(torque_cur[i]) > torque_max[i]) {
        torque_max[i] = std::fabs(torque_cur[i]);
      }
    }
  }

  if (print) {
    std::cout << "time_cur: " << time_cur << std::endl;
    std::cout << "torque_cur: ";
    for (double v : torque_cur) {
      std::cout << v << " ";
    }
    std::cout << std::endl;
    std::cout << "torque_max*safe_rate: ";
    for (double v : torque_max) {
      std::cout << v * safe_rate << " ";
    }
    std::cout << std::endl;
    std::cout << "safe_rate: " << safe_rate << std::endl;
    std::cout << "detection_result: " << detection_result << std::endl;
  }

  if (publish) {
    publishResult();
  }
  return detection_result;
}

std::vector<double> CollisionDetector_AT::resultData() const {
  std::vector<double> data;
  data.reserve(4 + 3 * torque_cur.size() + torque_in_.size() + joint_pos_in_.size() +
               joint_vel_in_.size());
  data.push_back(time_cur);
  data.push_back(static_cast<double>(detection_result));
  data.push_back(kResultBlocks);
  data.push_back(static_cast<double>(torque_cur.size()));
  data.insert(data.end(), collision_flags_.begin(), collision_flags_.end());
  data.insert(data.end(), torque_cur.begin(), torque_cur.end());
  for (double v : torque_max) {
    data.push_back(safe_rate * v);
  }
  data.insert(data.end(), torque_in_.begin(), torque_in_.end());
  data.insert(data.end(), joint_pos_in_.begin(), joint_pos_in_.end());
  data.insert(data.end(), joint_vel_in_.begin(), joint_vel_in_.end());
  return data;
}

void CollisionDetector_AT::publishResult() {
  std_msgs::msg::Float64MultiArray msg;
  msg.data = resultData();
  result_pub_->publish(msg);
}

void CollisionDetector_AT::myCallback(std::shared_ptr<std_msgs::msg::Float64MultiArray> msg) {
  const std::vector<double>& data = msg->data;
  // Never read past the array: n must be a count that the array can hold.
  const double n_value = data.size() >= 4 ? std::trunc(data[3]) : -1.0;
  if (!(n_value >= 0.0) || 4.0 + 2.0 * n_value > static_cast<double>(data.size())) {
    RCLCPP_INFO(get_logger(),
                "collision_joint_states: %zu values do not hold the joints they announce, dropped.",
                data.size());
    return;
  }
  const size_t n = static_cast<size_t>(n_value);
  const double time = data[0];
  const bool learn = data[1] != 0.0;
  const auto torque_begin = data.begin() + 4;
  const auto pos_begin = torque_begin + static_cast<std::ptrdiff_t>(n);
  const auto vel_begin = pos_begin + static_cast<std::ptrdiff_t>(n);
  std::vector<double> torques(torque_begin, pos_begin);
  std::vector<double> positions(pos_begin, vel_begin);
  std::vector<double> velocities(vel_begin, data.end());
  detect(torques, positions, velocities, learn, true, false, time);
  RCLCPP_INFO(get_logger(), "myCallback,I heard: '%f'", data[0]);
}

void CollisionDetector_AT::myCallback2(std::shared_ptr<std_msgs::msg::Bool> msg) {
  if (msg->data) {
    identification_flag_ = true;
  } else {
    identification_flag_ = false;
    save_flag_ = true;
  }
  RCLCPP_INFO(get_logger(), "myCallback2,I heard: '%i'", msg->data ? 1 : 0);
}
