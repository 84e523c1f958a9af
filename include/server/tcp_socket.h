#pragma once

// Socket operations on a descriptor the caller owns; no state of their own, so
// any thread may call them.
class TcpSocket {
 public:
  TcpSocket() {}
  ~TcpSocket() {}

  // Keep-alive (20 s idle, 6 s interval, 3 probes), 3 s send and 10 s receive
  // time-outs, and address reuse when asked. False at the first failure.
  virtual bool SetSockOpt(int fd, bool reuse_addr);

  bool CreateSocket(int& fd);
  // Sends all len bytes, retrying short sends and EINTR. Never raises
  // SIGPIPE. False at the first failure (bytes already sent stay sent).
  bool SendAll(int fd, const char* buf, int len);
  bool Send(int fd, const char* buf, int len);
  // One read; -1 on failure, 0 at end of stream.
  int ReadOnce(int fd, char* buf, int len);
  int Read(int fd, char* buf, int len);
  // True only while the connection is established; a failed query (closed or
  // foreign descriptor) counts as not connected.
  bool IsConnected(int fd);
};
