#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "arm_kinematics.h"
#include "driver_call_server.h"
#include "free_port.h"
#include "interpolator.h"
#include "rclcpp/rclcpp.hpp"
#include "ros_domain.h"
#include "test_motor.h"

namespace server_test {

// Six simulated joints (axis i at 0.1 * (i + 1) rad, disabled) behind a real
// Interpolator. Its thread runs only once a test starts it and is joined on
// tear-down; derived fixtures destroy their servers first.
class ArmFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const bool ready = [] {
      arm_test::reserveRosDomainId();
      rclcpp::init(0, nullptr);
      return true;
    }();
    (void)ready;
  }
  void SetUp() override {
    kin_ = std::make_unique<ArmKinematics>(
        std::vector<float>{0.0f, -1.44635403f, -1.44635403f, 0.0f, 0.0f, 0.0f},
        std::vector<float>{0.0f, -1.5707964f, 3.1415927f, -1.5707964f, 1.5707964f, -1.5707964f},
        std::vector<float>{0.0f, 0.0f, 400.0f, -50.0f, 0.0f, 0.0f},
        std::vector<float>{328.0f, 0.0f, 0.0f, 400.0f, -136.0f, 103.5f});
    para_.axis_num = 6;
    para_.axis_reserved.assign(6, AxisReserved());
    para_.axis_paras.assign(6, AxisPara());
    for (int i = 0; i < 6; ++i) {
      motors_.push_back(std::make_unique<TestMotor>(0.1 * (i + 1), false));
      para_.axis_paras[i] = {i == 1 ? 2.0943951023931957 : 5.201081170943102, 1.0, 1.0,
                             motors_.back().get()};
    }
    ip_ = std::make_unique<Interpolator>(para_, kin_.get());
    ip_->startLoop();
    ip_->runPass();
  }
  void TearDown() override {
    if (loop_.joinable()) {
      ip_->requestQuit();
      loop_.join();
    }
    ip_.reset();
  }
  void startLoop() {
    loop_ = std::thread([this] { ip_->run(); });
  }
  size_t queued() {
    std::lock_guard<std::mutex> lock(ip_->queue_mutex_);
    return ip_->cmd_queue_.size();
  }

  RobotPara para_;
  std::vector<std::unique_ptr<TestMotor>> motors_;
  std::unique_ptr<ArmKinematics> kin_;
  std::unique_ptr<Interpolator> ip_;
  std::thread loop_;
};

// A started call server on a free loopback port.
class CallServerFixture : public ArmFixture {
 protected:
  void SetUp() override {
    ArmFixture::SetUp();
    port_ = arm_test::freeTcpPort();
    server_ = std::make_unique<DriverCallServer>("127.0.0.1", static_cast<uint32_t>(port_), ip_.get());
    ASSERT_TRUE(server_->Start());
  }
  void TearDown() override {
    server_.reset();
    ArmFixture::TearDown();
  }

  int port_ = 0;
  std::unique_ptr<DriverCallServer> server_;
};

}  // namespace server_test
