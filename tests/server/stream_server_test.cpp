// What a stream client receives: whole state frames that match the arm, one
// client at a time, and never a frame after a cut one.
#include "arm_fixture.h"
#include "cloud/robot_ping.pb.h"
#include "server/driver_stream_server.h"

namespace server_test {
namespace {

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

class StreamServer : public ServerFixture<SmallBufferStreamServer> {
 protected:
  bool readState(LoopbackClient& client) {
    std::string payload;
    return client.readFrame(&payload, Ms(3000)) && state_.ParseFromString(payload);
  }
  robot_ping::MainArmStates state_;
};

// The figures themselves are checked against the topics end to end (tests/e2e).
TEST_F(StreamServer, OneClientAtATimeGetsTheArmStateStampedNow) {
  ip()->setGripSignal(true);
  auto first = std::make_unique<LoopbackClient>();
  LoopbackClient second;
  ASSERT_TRUE(first->connectTo(port_));
  ASSERT_TRUE(readState(*first));
  EXPECT_EQ(state_.angle().angle_size(), 6);
  EXPECT_TRUE(state_.gripsignal());
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  EXPECT_NEAR(state_.timestamp(), std::chrono::duration_cast<std::chrono::milliseconds>(now).count(), 2000.0);
  ASSERT_TRUE(second.connectTo(port_));
  EXPECT_TRUE(second.silentFor(Ms(300)));
  first.reset();
  EXPECT_TRUE(readState(second));
}

TEST_F(StreamServer, StalledReaderNeverGetsAFrameAfterACutOne) {
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_, Ms(5000), 1024));
  // Read nothing until the server has taken the client and then given up on its blocked send.
  for (bool want : {true, false}) {
    for (int i = 0; i < 6000 && server_->hasClient() != want; ++i) std::this_thread::sleep_for(Ms(10));
    ASSERT_EQ(server_->hasClient(), want);
  }
  std::string stream;
  for (std::string part; !(part = client.readBytes(1 << 16, Ms(2000))).empty();) stream += part;

  // Whole frames, then at most the start of one that was cut.
  size_t at = 0;
  int frames = 0;
  for (uint32_t len = 0; stream.size() - at >= 4; at += 4 + len, ++frames) {
    const auto* h = reinterpret_cast<const unsigned char*>(stream.data() + at);
    len = uint32_t{h[0]} << 24 | uint32_t{h[1]} << 16 | uint32_t{h[2]} << 8 | h[3];
    if (stream.size() - at - 4 < len) break;
    ASSERT_TRUE(state_.ParseFromArray(stream.data() + at + 4, static_cast<int>(len)));
    ASSERT_EQ(state_.angle().angle_size(), 6);
  }
  EXPECT_GT(frames, 10);
  EXPECT_LT(stream.size() - at, 4u + 117u);
  EXPECT_TRUE(client.waitForClose(Ms(1000)));

  LoopbackClient next;  // and the server is free for the next client
  ASSERT_TRUE(next.connectTo(port_));
  EXPECT_TRUE(readState(next));
}

}  // namespace
}  // namespace server_test
