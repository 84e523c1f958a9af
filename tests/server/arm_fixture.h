#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "server/driver_call_server.h"
#include "free_port.h"
#include "loopback_client.h"
#include "ros_init.h"
#include "test_arm.h"

namespace server_test {

// Six simulated joints (axis i at 0.1 * (i + 1) rad, disabled) behind a real
// Interpolator that has read them once. Its thread runs only once a test
// starts it and is joined on tear-down; derived fixtures destroy their
// servers first.
class ArmFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    arm_test::initRosOnce();
    arm_ = std::make_unique<arm_test::TestArm>(std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
    ip()->startLoop();
    ip()->runPass();
  }
  void TearDown() override {
    if (loop_.joinable()) {
      ip()->requestQuit();
      loop_.join();
    }
    arm_.reset();
  }
  void startLoop() {
    loop_ = std::thread([this] { ip()->run(); });
  }
  Interpolator* ip() { return arm_->interpolator.get(); }
  std::vector<std::unique_ptr<TestMotor>>& motors() { return arm_->motors; }

  std::unique_ptr<arm_test::TestArm> arm_;
  std::thread loop_;
};

// A started server of the given kind on a free loopback port.
template <typename Server>
class ServerFixture : public ArmFixture {
 protected:
  void SetUp() override {
    ArmFixture::SetUp();
    port_ = arm_test::freeTcpPort();
    server_ = std::make_unique<Server>("127.0.0.1", static_cast<uint32_t>(port_), ip());
    ASSERT_TRUE(server_->Start());
  }
  void TearDown() override {
    server_.reset();
    ArmFixture::TearDown();
  }
  int port_ = 0;
  std::unique_ptr<Server> server_;
};

class CallServerFixture : public ServerFixture<DriverCallServer> {
 protected:
  bool servesArmId(LoopbackClient& client, Ms timeout = Ms(5000)) {
    return client.sendBytes(kIdRequest) && client.readBytes(44, timeout) == kIdReply;
  }

  const std::string kIdRequest{"\x00\x00\x00\x02\x08\x01", 6};
  const std::string kIdReply =
      std::string("\x00\x00\x00\x28\x08\x01\x12\x24", 8) + DriverCallServer::kArmId;
};

}  // namespace server_test
