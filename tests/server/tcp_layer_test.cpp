// The TCP layer under both servers: connection state, and sends to peers
// that have gone away.
#include <gtest/gtest.h>
#include <signal.h>

#include "loopback_client.h"
#include "server/tcp_server.h"

namespace server_test {
namespace {

TEST(TcpSocketTest, VanishedPeerIsNotConnectedAndSendsToItFailWithoutSigpipe) {
  const int listen_fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ASSERT_EQ(bind(listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(listen(listen_fd, 1), 0);
  getsockname(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len);
  LoopbackClient client;
  ASSERT_TRUE(client.connectTo(ntohs(addr.sin_port)));
  const int fd = accept(listen_fd, nullptr, nullptr);
  ASSERT_GE(fd, 0);

  TcpSocket sock;
  EXPECT_TRUE(sock.IsConnected(fd));
  client.close();
  for (int i = 0; i < 200 && sock.IsConnected(fd); ++i) std::this_thread::sleep_for(Ms(5));
  EXPECT_FALSE(sock.IsConnected(fd));
  EXPECT_FALSE(sock.IsConnected(-1));
  EXPECT_FALSE(sock.IsConnected(STDERR_FILENO));  // not a socket

  signal(SIGPIPE, SIG_DFL);
  const std::string chunk(4096, 'x');
  bool failed = false;
  for (int i = 0; i < 1000 && !failed; ++i) {
    failed = !sock.Send(fd, chunk.data(), static_cast<int>(chunk.size()));
    std::this_thread::sleep_for(Ms(1));
  }
  EXPECT_TRUE(failed);
  close(fd);
  close(listen_fd);
}

}  // namespace
}  // namespace server_test
