#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "free_port.h"
#include "loopback_client.h"
#include "ros_init.h"
#include "server/driver_call_server.h"
#include "test_arm.h"

namespace server_test {

// A started server of the given kind on a free loopback port, over six test
// joints (axis i at 0.1 * (i + 1) rad, disabled) that the Interpolator has
// read once; its loop does not run.
template <typename Server>
class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    arm_test::initRosOnce();
    arm_ = std::make_unique<arm_test::TestArm>(std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
    ip()->startLoop();
    ip()->runPass();
    port_ = arm_test::freeTcpPort();
    server_ = std::make_unique<Server>("127.0.0.1", static_cast<uint32_t>(port_), ip());
    ASSERT_TRUE(server_->Start());
  }
  void TearDown() override { server_.reset(); }
  Interpolator* ip() { return arm_->interpolator.get(); }
  bool servesArmId(LoopbackClient& client) {
    return client.sendBytes(kIdRequest) && client.readBytes(44) == kIdReply;
  }

  const std::string kIdRequest{"\x00\x00\x00\x02\x08\x01", 6};
  const std::string kIdReply = std::string("\x00\x00\x00\x28\x08\x01\x12\x24", 8) + DriverCallServer::kArmId;
  std::unique_ptr<arm_test::TestArm> arm_;
  int port_ = 0;
  std::unique_ptr<Server> server_;
};

}  // namespace server_test
