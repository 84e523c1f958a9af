// What a stream client receives: whole state frames that match the arm, one
// client at a time, and never a frame after a cut one.
#include <gtest/gtest.h>

#include "arm_fixture.h"
#include "cloud/robot_ping.pb.h"
#include "driver_stream_server.h"
#include "loopback_client.h"

namespace {

using server_test::LoopbackClient;
using server_test::Ms;

// Tiny send buffers (inherited by accepted sockets), so a client that stops
// reading fills them in seconds rather than minutes.
class SmallBufferStreamServer : public DriverStreamServer {
 public:
  using DriverStreamServer::DriverStreamServer;
  ~SmallBufferStreamServer() { StopAccepting(); }
  bool SetSockOpt(int fd, bool reuse_addr) override {
    const int size = 4096;
    return DriverStreamServer::SetSockOpt(fd, reuse_addr) &&
           setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size)) == 0;
  }
  bool hasClient() {
    std::lock_guard<std::mutex> lock(client_mutex_);
    return client_fd_ >= 0;
  }
};

class StreamServer : public server_test::ArmFixture {
 protected:
  template <typename Server = DriverStreamServer>
  Server* startServer() {
    port_ = arm_test::freeTcpPort();
    auto server = std::make_shared<Server>("127.0.0.1", static_cast<uint32_t>(port_), ip_.get());
    server_ = server;  // shared_ptr destroys it as the type it was made as
    EXPECT_TRUE(server->Start());
    return server.get();
  }
  void TearDown() override {
    server_.reset();
    ArmFixture::TearDown();
  }
  static bool readState(LoopbackClient& client, robot_ping::MainArmStates* state) {
    std::string payload;
    return client.readFrame(&payload, Ms(3000)) && state->ParseFromString(payload);
  }

  int port_ = 0;
  std::shared_ptr<DriverStreamServer> server_;
};

TEST_F(StreamServer, FramesCarryTheArmStateInTheirUnits) {
  for (auto& m : motors_) m->setEnabled(true);
  ip_->runPass();
  ip_->setGripSignal(true);
  std::vector<double> pose;
  ip_->getPose(&pose);
  startServer();
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  robot_ping::MainArmStates state;
  ASSERT_TRUE(readState(client, &state));
  ASSERT_EQ(state.angle().angle_size(), 6);
  ASSERT_EQ(state.pose_size(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_DOUBLE_EQ(state.angle().angle(i), 0.1 * (i + 1));
    EXPECT_DOUBLE_EQ(state.pose(i), i < 3 ? pose[i] : pose[i] * 57.295777754771045);
  }
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  EXPECT_NEAR(static_cast<double>(state.timestamp()), static_cast<double>(now.count()), 2000.0);
  EXPECT_TRUE(state.gripsignal());
  EXPECT_TRUE(state.enablepower());
}

TEST_F(StreamServer, SecondClientIsServedOnceTheFirstLeaves) {
  startServer();
  auto first = std::make_unique<LoopbackClient>();
  LoopbackClient second;
  robot_ping::MainArmStates state;
  ASSERT_TRUE(first->connectTo(port_));
  ASSERT_TRUE(readState(*first, &state));
  ASSERT_TRUE(second.connectTo(port_));
  EXPECT_TRUE(second.silentFor(Ms(300)));
  first.reset();
  EXPECT_TRUE(readState(second, &state));
}

TEST_F(StreamServer, StalledReaderNeverGetsAFrameAfterACutOne) {
  auto* server = startServer<SmallBufferStreamServer>();
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_, Ms(5000), 1024));
  // Read nothing until the server has given up on its blocked send.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!server->hasClient() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(Ms(10));
  }
  while (server->hasClient() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(Ms(50));
  }
  ASSERT_FALSE(server->hasClient());
  std::string stream;
  for (std::string part; !(part = client.readBytes(1 << 16, Ms(2000))).empty();) stream += part;

  size_t at = 0;
  int frames = 0;
  for (robot_ping::MainArmStates state; stream.size() - at >= 4; ++frames) {
    const auto* h = reinterpret_cast<const unsigned char*>(stream.data() + at);
    const size_t len = (size_t{h[0]} << 24) | (size_t{h[1]} << 16) | (size_t{h[2]} << 8) | h[3];
    if (stream.size() - at - 4 < len) break;  // a cut frame: must be the very end
    ASSERT_TRUE(state.ParseFromArray(stream.data() + at + 4, static_cast<int>(len)));
    ASSERT_EQ(state.angle().angle_size(), 6);
    at += 4 + len;
  }
  EXPECT_GT(frames, 10);
  EXPECT_LT(stream.size() - at, 4u + 117u);
  EXPECT_TRUE(client.waitForClose(Ms(1000)));

  LoopbackClient next;  // and the server is free for the next client
  robot_ping::MainArmStates state;
  ASSERT_TRUE(next.connectTo(port_));
  EXPECT_TRUE(readState(next, &state));
}

}  // namespace
