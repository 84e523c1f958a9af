// The TCP layer under both servers: start-up, one client at a time,
// connection state, and sends to peers that have gone away.
#include <gtest/gtest.h>

#include <signal.h>

#include <condition_variable>
#include <mutex>

#include "free_port.h"
#include "loopback_client.h"
#include "tcp_server.h"

namespace {

using server_test::LoopbackClient;
using server_test::Ms;

// Counts connections and holds each one until the test releases it.
class HoldingServer : public TcpServer {
 public:
  explicit HoldingServer(int port) : TcpServer("127.0.0.1", static_cast<uint32_t>(port), 1) {}
  ~HoldingServer() {
    release();
    StopAccepting();
  }
  bool HandleConnection(int* client_fd) override {
    std::unique_lock<std::mutex> lock(m_);
    ++served_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return released_ >= served_ || Stopping(); });
    lock.unlock();
    CloseClient(client_fd);
    return false;
  }
  bool waitServed(int n, Ms timeout) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, timeout, [&] { return served_ >= n; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(m_);
    ++released_;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int served_ = 0;
  int released_ = 0;
};

TEST(TcpStart, ListensBeforeReturningOnThePortModulo65536) {
  const int port = arm_test::freeTcpPort();
  TcpServer server("127.0.0.1", static_cast<uint32_t>(port) + 65536u, 1);
  ASSERT_TRUE(server.Start());
  LoopbackClient client;
  EXPECT_TRUE(client.connectTo(port, Ms(0)));
}

TEST(TcpStartDeathTest, BusyPortEndsTheProcessNamingAddressAndPort) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child must see the parent's port taken
  const int port = arm_test::freeTcpPort();
  TcpServer first("127.0.0.1", static_cast<uint32_t>(port), 1);
  ASSERT_TRUE(first.Start());
  EXPECT_EXIT(TcpServer("127.0.0.1", static_cast<uint32_t>(port), 1).Start(),
              testing::ExitedWithCode(255), "127.0.0.1 port " + std::to_string(port));
}

TEST(TcpServing, SecondClientWaitsUntilTheFirstHandlerReturns) {
  const int port = arm_test::freeTcpPort();
  HoldingServer server(port);
  ASSERT_TRUE(server.Start());
  LoopbackClient first;
  LoopbackClient second;
  ASSERT_TRUE(first.connectTo(port));
  ASSERT_TRUE(server.waitServed(1, Ms(2000)));
  ASSERT_TRUE(second.connectTo(port));  // completes in the kernel's queue
  EXPECT_FALSE(server.waitServed(2, Ms(200)));
  server.release();
  EXPECT_TRUE(first.waitForClose(Ms(2000)));
  EXPECT_TRUE(server.waitServed(2, Ms(2000)));
}

// An accepted loopback connection without any server around it.
class ConnectedPair : public testing::Test {
 protected:
  void SetUp() override {
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listen_fd_, 1), 0);
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    ASSERT_TRUE(client_.connectTo(ntohs(addr.sin_port)));
    fd_ = accept(listen_fd_, nullptr, nullptr);
  }
  void TearDown() override {
    close(fd_);
    close(listen_fd_);
  }

  TcpSocket sock_;
  LoopbackClient client_;
  int listen_fd_ = -1;
  int fd_ = -1;
};

TEST_F(ConnectedPair, ConnectionStateFollowsThePeerAndFailedQueriesAreNotConnected) {
  ASSERT_GE(fd_, 0);
  EXPECT_TRUE(sock_.IsConnected(fd_));
  client_.close();
  for (int i = 0; i < 200 && sock_.IsConnected(fd_); ++i) std::this_thread::sleep_for(Ms(5));
  EXPECT_FALSE(sock_.IsConnected(fd_));
  EXPECT_FALSE(sock_.IsConnected(-1));
  EXPECT_FALSE(sock_.IsConnected(STDERR_FILENO));  // not a socket
}

TEST_F(ConnectedPair, SendToAVanishedPeerFailsInsteadOfRaisingSigpipe) {
  ASSERT_GE(fd_, 0);
  signal(SIGPIPE, SIG_DFL);
  client_.close();
  const std::string chunk(4096, 'x');
  bool failed = false;
  for (int i = 0; i < 1000 && !failed; ++i) {
    failed = !sock_.Send(fd_, chunk.data(), static_cast<int>(chunk.size()));
    std::this_thread::sleep_for(Ms(1));
  }
  EXPECT_TRUE(failed);
}

}  // namespace
