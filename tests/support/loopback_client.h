#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "child_process.h"

namespace server_test {

using Ms = std::chrono::milliseconds;

// A blocking TCP client on 127.0.0.1 for driving the servers byte by byte.
class LoopbackClient {
 public:
  ~LoopbackClient() { close(); }

  // Retries until the server listens; rcvbuf > 0 shrinks the receive buffer first.
  bool connectTo(int port, Ms timeout = Ms(30000), int rcvbuf = 0) {
    return arm_test::waitUntil(
        [&] {
          close();
          fd_ = socket(AF_INET, SOCK_STREAM, 0);
          if (rcvbuf > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));
          sockaddr_in addr{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
          return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        },
        timeout);
  }
  bool sendBytes(const std::string& b) {
    return send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
  }
  // Up to n bytes: fewer when the peer closes or the time-out passes.
  std::string readBytes(size_t n, Ms timeout = Ms(30000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string out;
    char buf[4096];
    while (out.size() < n) {
      const auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t got = recv(fd_, buf, std::min(sizeof(buf), n - out.size()), 0);
      if ((closed_ = got <= 0)) break;
      out.append(buf, static_cast<size_t>(got));
    }
    return out;
  }
  bool readFrame(std::string* payload, Ms timeout = Ms(30000)) {
    const std::string h = readBytes(4, timeout);
    if (h.size() != 4) return false;
    const auto* u = reinterpret_cast<const unsigned char*>(h.data());
    const size_t len = (size_t{u[0]} << 24) | (size_t{u[1]} << 16) | (size_t{u[2]} << 8) | u[3];
    *payload = readBytes(len, timeout);
    return payload->size() == len;
  }
  // True when the server closes the connection in time (data is discarded).
  bool waitForClose(Ms timeout) { return readBytes(SIZE_MAX, timeout), closed_; }
  bool silentFor(Ms period) {
    pollfd pfd{fd_, POLLIN, 0};
    return poll(&pfd, 1, static_cast<int>(period.count())) == 0;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1, closed_ = false;
  }

 private:
  int fd_ = -1;
  bool closed_ = false;
};

// A loopback port nobody listens on at the moment of asking.
inline int freeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof(addr);
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  ::close(fd);
  return ok ? ntohs(addr.sin_port) : -1;
}

inline std::string headerOf(uint32_t len) {
  return {static_cast<char>(len >> 24), static_cast<char>(len >> 16), static_cast<char>(len >> 8),
          static_cast<char>(len)};
}

inline std::string frameOf(const std::string& payload) {
  return headerOf(static_cast<uint32_t>(payload.size())) + payload;
}

}  // namespace server_test
