#include "server/tcp_socket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kKeepIdleS = 20;
constexpr int kKeepProbes = 3;
constexpr int kSendTimeoutS = 3;
constexpr int kReceiveTimeoutS = 10;
constexpr unsigned char kTcpEstablished = 1;

bool setIntOption(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof(value)) >= 0;
}

bool setTimeout(int fd, int name, int seconds) {
  timeval tv{};
  tv.tv_sec = seconds;
  tv.tv_usec = 0;
  return setsockopt(fd, SOL_SOCKET, name, &tv, sizeof(tv)) == 0;
}

}  // namespace

bool TcpSocket::SetSockOpt(int fd, bool reuse_addr) {
  int keep_interval = kKeepIdleS / kKeepProbes;
  if (keep_interval < 1) keep_interval = 1;
  if (!setIntOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1)) return false;
  if (!setIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS)) return false;
  if (!setIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, keep_interval)) return false;
  if (!setIntOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepProbes)) return false;
  if (!setTimeout(fd, SO_SNDTIMEO, kSendTimeoutS)) {
    printf("TcpSocket::SetSockOpt SO_SNDTIMEO failed\n");
    return false;
  }
  if (!setTimeout(fd, SO_RCVTIMEO, kReceiveTimeoutS)) {
    printf("TcpSocket::SetSockOpt SO_RCVTIMEO failed\n");
    return false;
  }
  if (reuse_addr && !setIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1)) {
    printf("TcpSocket::SetSockOpt SO_REUSEADDR failed\n");
    return false;
  }
  return true;
}

bool TcpSocket::CreateSocket(int& fd) {
  fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return fd >= 0;
}

bool TcpSocket::SendAll(int fd, const char* buf, int len) {
  int sent = 0;
  while (sent < len) {
    // MSG_NOSIGNAL: a peer that has gone away must not end the process.
    ssize_t n = send(fd, buf + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    sent += static_cast<int>(n);
  }
  return true;
}

bool TcpSocket::Send(int fd, const char* buf, int len) { return SendAll(fd, buf, len); }

int TcpSocket::ReadOnce(int fd, char* buf, int len) {
  ssize_t n;
  do {
    n = read(fd, buf, static_cast<size_t>(len < 0 ? 0 : len));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int TcpSocket::Read(int fd, char* buf, int len) { return ReadOnce(fd, buf, len); }

bool TcpSocket::IsConnected(int fd) {
  if (fd < 0) return false;
  tcp_info info;
  std::memset(&info, 0, sizeof(info));
  socklen_t len = sizeof(info);
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0 || len < 1) return false;
  return info.tcpi_state == kTcpEstablished;
}
