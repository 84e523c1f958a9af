#include "server/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// Back-off after an accept error that does not clear by itself (descriptor
// exhaustion and the like), so the thread does not spin a core.
constexpr std::chrono::milliseconds kAcceptBackoff(100);
constexpr int kStartFailureStatus = 255;

[[noreturn]] void failStart(const std::string& ip, uint32_t port, const char* what,
                            const char* why) {
  fprintf(stderr, "TcpServer: %s on %s port %u failed: %s\n", what, ip.c_str(), port & 0xFFFFu,
          why);
  fflush(stderr);
  fflush(stdout);
  // _exit: other threads are live; static destructors must not run under them.
  _exit(kStartFailureStatus);
}

bool transientAcceptError(int err) {
  return err == EINTR || err == EAGAIN || err == EWOULDBLOCK || err == ECONNABORTED ||
         err == EPROTO;
}

}  // namespace

TcpServer::TcpServer(std::string ip, uint32_t port, uint32_t backlog)
    : ip_(std::move(ip)), port_(port), listen_fd_(-1), backlog_(backlog), client_fd_(-1) {}

TcpServer::~TcpServer() {
  StopAccepting();
  Close(listen_fd_);
}

bool TcpServer::Start() {
  if (accept_thread_.joinable()) return false;
  int fd = -1;
  if (!CreateSocket(fd)) return false;
  listen_fd_ = fd;
  if (!SetSockOpt(listen_fd_, true)) return false;

  sockaddr_in addr;
  std::memset(&addr, 0, sizeof(addr));
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port_ & 0xFFFFu));
  if (inet_pton(AF_INET, ip_.c_str(), &addr.sin_addr) != 1) {
    failStart(ip_, port_, "bind", "not an IPv4 address");
  }
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == -1) {
    failStart(ip_, port_, "bind", strerror(errno));
  }
  if (listen(listen_fd_, static_cast<int>(backlog_)) == -1) {
    failStart(ip_, port_, "listen", strerror(errno));
  }
  accept_thread_ = std::thread(&TcpServer::AcceptLoop, this);
  return true;
}

void TcpServer::AcceptLoop() {
  while (!stopping_) {
    sockaddr_in peer;
    socklen_t peer_len = sizeof(peer);
    int fd = accept(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &peer_len);
    if (fd < 0) {
      // The listening socket's receive time-out also bounds accept: EAGAIN
      // after 10 s without a client is not an error.
      if (!stopping_ && !transientAcceptError(errno)) std::this_thread::sleep_for(kAcceptBackoff);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(client_mutex_);
      client_fd_ = fd;
      if (stopping_) shutdown(fd, SHUT_RDWR);
    }
    HandleConnection(&client_fd_);
    // A handler that returned without closing would leak the descriptor.
    CloseClient(&client_fd_);
  }
}

bool TcpServer::HandleConnection(int* client_fd) {
  CloseClient(client_fd);
  return true;
}

void TcpServer::Close(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

void TcpServer::CloseClient(int* client_fd) {
  std::lock_guard<std::mutex> lock(client_mutex_);
  Close(*client_fd);
}

void TcpServer::StopAccepting() {
  stopping_ = true;
  if (!accept_thread_.joinable()) return;
  // shutdown, not close: it wakes a thread blocked in accept or recv on the
  // descriptor, and the descriptor stays ours until that thread is done.
  if (listen_fd_ >= 0) shutdown(listen_fd_, SHUT_RDWR);
  {
    std::lock_guard<std::mutex> lock(client_mutex_);
    if (client_fd_ >= 0) shutdown(client_fd_, SHUT_RDWR);
  }
  accept_thread_.join();
}
