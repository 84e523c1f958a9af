// Both driver servers: the call server under any segmentation, hostile input and vanishing
// clients, queueing moves in turn with the command node; the stream server one client at a
// time, never a frame after a cut one. The figures are checked against the topics in tests/e2e.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "cloud/robot_ping.pb.h"
#include "loopback_client.h"
#include "motion/producers/joint_move_producer.h"
#include "ros_init.h"
#include "server/driver_call_server.h"
#include "server/driver_stream_server.h"
#include "stdout_capture.h"
#include "test_arm.h"

namespace server_test {
namespace {

using arm_test::waitUntil;

// A started server on a free loopback port, over six test joints (axis i at 0.1 * (i + 1)
// rad) read once by an Interpolator whose loop does not run.
template <typename Server>
class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    arm_test::initRosOnce();
    arm_ = std::make_unique<arm_test::TestArm>(std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
    ip()->runPass();
    server_ = std::make_unique<Server>("127.0.0.1", static_cast<uint32_t>(port_), ip());
    ASSERT_TRUE(server_->Start());
  }
  Interpolator* ip() { return arm_->interpolator.get(); }

  std::unique_ptr<arm_test::TestArm> arm_;
  const int port_ = freeTcpPort();
  std::unique_ptr<Server> server_;
};

const std::string kIdRequest("\x00\x00\x00\x02\x08\x01", 6);
const std::string kIdReply = std::string("\x00\x00\x00\x28\x08\x01\x12\x24", 8) + DriverCallServer::kArmId;
const std::string kEmptyMove("\x00\x00\x00\x02\x08\x02", 6);  // refused at once
const std::string kRefused("\x00\x00\x00\x04\x08\x02\x18\x00", 8);

bool servesArmId(LoopbackClient& client) {
  return client.sendBytes(kIdRequest) && client.readBytes(44) == kIdReply;
}

using CallServer = ServerFixture<DriverCallServer>;

// Split anywhere, byte by byte or two in one segment: one reply per request. Length 0 is skipped,
// a field running past the end is not type 1, unknown types get no reply; lengths no request can
// have end the connection unread (a whole payload and a request after it get no reply).
TEST_F(CallServer, AnySegmentationAndHostileInputLeaveItServing) {
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(port_));
  for (const std::string& part : {kIdRequest.substr(0, 3), kIdRequest.substr(3, 2), kIdRequest.substr(5)}) {
    ASSERT_TRUE(client.sendBytes(part));
    std::this_thread::sleep_for(Ms(30));
  }
  EXPECT_EQ(client.readBytes(44), kIdReply);
  for (char c : kEmptyMove) ASSERT_TRUE(client.sendBytes(std::string(1, c)));
  EXPECT_EQ(client.readBytes(8), kRefused);
  std::string bad = headerOf(0) + headerOf(4) + std::string("\x08\x01\x1a\x7f", 4);
  for (const char* type : {"\x08\x00", "\x08\x04", "\x08\x09"}) bad += headerOf(2) + std::string(type, 2);
  ASSERT_TRUE(client.sendBytes(bad + kIdRequest + kEmptyMove));
  EXPECT_EQ(client.readBytes(44 + 8), kIdReply + kRefused);
  EXPECT_TRUE(client.silentFor(Ms(100)));
  for (uint32_t hostile : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 64u * 1024u + 1u}) {
    ASSERT_TRUE(client.connectTo(port_));
    const std::string payload(std::min(hostile, 64u * 1024u + 1u), '\x08');
    client.sendBytes(headerOf(hostile) + payload + kIdRequest);
    EXPECT_TRUE(client.readBytes(44).empty() && client.waitForClose(Ms(30000))) << hostile;
  }
  EXPECT_TRUE(client.connectTo(port_) && servesArmId(client));
}

// Clients leaving inside the header, inside the payload or before their reply
// leak no descriptor; descriptor 0 is a client like any other.
TEST_F(CallServer, VanishingClientsLeakNoDescriptor) {
  signal(SIGPIPE, SIG_DFL);  // a reply to a vanished client must not end the process
  LoopbackClient holder, last;
  ASSERT_TRUE(holder.connectTo(port_) && servesArmId(holder));  // a steady descriptor count first
  holder.close();
  std::this_thread::sleep_for(Ms(100));
  auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = descriptors();
  for (int i = 0; i < 30; ++i) {
    LoopbackClient client;
    ASSERT_TRUE(client.connectTo(port_, Ms(10000)));
    ASSERT_TRUE(client.sendBytes(kIdRequest.substr(0, i % 3 == 0 ? 2 : i % 3 == 1 ? 5 : 6)));
  }
  ASSERT_TRUE(holder.connectTo(port_, Ms(10000)) && servesArmId(holder) && last.connectTo(port_));
  const int saved = dup(0);  // the next accept lands on descriptor 0
  close(0), holder.close();
  const bool served = servesArmId(last);
  last.close();
  waitUntil([] { return fcntl(0, F_GETFD) == -1; }, Ms(30000));
  dup2(saved, 0), close(saved);
  EXPECT_TRUE(served);
  waitUntil([&] { return descriptors() <= before; }, Ms(30000));
  EXPECT_LE(descriptors(), before);
}

// The node's thread and the server queue moves at the same time: each still starts where the
// one queued before it ends (axis 6 shown; a producer prints a move's six lines in its turn).
TEST_F(CallServer, MovesQueuedAlongsideTheNodeChainEndToStart) {
  arm_test::StdoutCapture cap;
  std::atomic<bool> started{false};
  std::thread node([&] {
    started = true;
    for (int k = 1; k <= 400; ++k) joint_move::planJointMove(ip(), 6, std::vector<double>(6, 0.001 * k), 1.0);
  });
  while (!started) std::this_thread::yield();
  for (int k = 1; k <= 400; ++k) server_->planJointMove(std::vector<double>(6, -0.001 * k), 0.4);
  node.join();
  const std::string out = cap.text();
  double end = 0.6, q0 = 0, q1 = 0;
  int lines = 0;
  for (size_t at = 0; (at = out.find("TrapezoidPlannerInput:", at)) != std::string::npos; ++at) {
    if (++lines % 6 != 0) continue;
    ASSERT_EQ(std::sscanf(out.c_str() + at, "TrapezoidPlannerInput:%lf,%lf", &q0, &q1), 2);
    EXPECT_NEAR(q0, end, 1e-6);
    end = q1;
  }
  EXPECT_EQ(lines, 4800);
  EXPECT_EQ(ip()->testView().queued, 800u);
}

// Tiny send buffers (inherited by accepted sockets): a stalled client fills them in seconds.
class SmallBufferStreamServer : public DriverStreamServer {
 public:
  using DriverStreamServer::DriverStreamServer;
  ~SmallBufferStreamServer() { StopAccepting(); }
  bool SetSockOpt(int fd, bool reuse_addr) override {
    const int size = 4096;
    return DriverStreamServer::SetSockOpt(fd, reuse_addr) &&
           setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size)) == 0;
  }
  bool hasClient() { return std::lock_guard<std::mutex>(client_mutex_), client_fd_ >= 0; }
};

class StreamServer : public ServerFixture<SmallBufferStreamServer> {
 protected:
  bool readState(LoopbackClient& client) {
    std::string payload;
    return client.readFrame(&payload, Ms(30000)) && state_.ParseFromString(payload);
  }
  robot_ping::MainArmStates state_;
};

TEST_F(StreamServer, OneClientAtATimeGetsTheArmStateStampedNow) {
  ip()->setGripSignal(true);
  LoopbackClient first, second;
  auto now_ms = [] { return std::chrono::system_clock::now().time_since_epoch() / Ms(1); };
  const int64_t connected = now_ms();  // a frame is stamped once its client is taken
  ASSERT_TRUE(first.connectTo(port_) && readState(first));
  EXPECT_TRUE(state_.gripsignal());
  EXPECT_TRUE(connected <= state_.timestamp() && state_.timestamp() <= now_ms()) << state_.timestamp();
  ASSERT_TRUE(second.connectTo(port_));
  EXPECT_TRUE(second.silentFor(Ms(300)));
  first.close();
  EXPECT_TRUE(readState(second));
}

TEST_F(StreamServer, StalledReaderNeverGetsAFrameAfterACutOne) {
  LoopbackClient client, next;
  ASSERT_TRUE(client.connectTo(port_, Ms(30000), 1024));
  // Read nothing until the server has taken the client and then given up on its blocked send.
  for (bool want : {true, false})
    ASSERT_TRUE(waitUntil([&] { return server_->hasClient() == want; }, Ms(60000))) << want;
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
  }
  EXPECT_GT(frames, 10);
  EXPECT_LT(stream.size() - at, 4u + 117u);
  EXPECT_TRUE(client.waitForClose(Ms(30000)));
  ASSERT_TRUE(next.connectTo(port_));  // and the server is free for the next client
  EXPECT_TRUE(readState(next));
}

// The socket layer under both servers: a peer gone is not connected, and
// sending to it fails instead of raising SIGPIPE.
TEST(TcpSocketTest, VanishedPeerIsNotConnectedAndSendsToItFailWithoutSigpipe) {
  const int port = freeTcpPort();
  TcpSocket listener;
  LoopbackClient client;
  int fd = -1;
  ASSERT_TRUE(listener.CreateSocket(fd) && listener.SetSockOpt(fd, true));
  sockaddr_in addr{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) | listen(fd, 1), 0);
  ASSERT_TRUE(client.connectTo(port));
  const int peer = accept(fd, nullptr, nullptr);
  EXPECT_TRUE(listener.IsConnected(peer));
  client.close();
  EXPECT_TRUE(waitUntil([&] { return !listener.IsConnected(peer); }, Ms(30000)));
  EXPECT_FALSE(listener.IsConnected(-1) || listener.IsConnected(STDERR_FILENO));
  signal(SIGPIPE, SIG_DFL);
  const std::string chunk(4096, 'x');
  EXPECT_TRUE(waitUntil([&] { return !listener.Send(peer, chunk.data(), static_cast<int>(chunk.size())); },
                        Ms(30000)));
  close(peer), close(fd);
}

}  // namespace
}  // namespace server_test
