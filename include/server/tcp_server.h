#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/tcp_socket.h"

// One listening IPv4 socket and an accept thread that serves one client at a
// time, on that thread, through HandleConnection. Further clients wait in the
// kernel's queue until the handler returns. The servers of the running
// controller are never destroyed, so their accept threads serve for the life
// of the process.
class TcpServer : public TcpSocket {
 public:
  TcpServer(std::string ip, uint32_t port, uint32_t backlog);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Creates, configures, binds and listens, then starts the accept thread.
  // False when the socket cannot be created or configured. A bind or listen
  // failure is reported on standard error and ends the process with status
  // 255: the servers are the arm's remote interface, a controller without
  // them must not look healthy.
  bool Start();
  // Body of the accept thread; runs until the server is destroyed.
  void AcceptLoop();
  // Serves one accepted client and closes it. This default only closes it.
  virtual bool HandleConnection(int* client_fd);
  // Closes fd when it holds a descriptor (>= 0) and sets it to -1.
  void Close(int& fd);

 protected:
  // Closes the client under client_mutex_ (handlers call it with the
  // address they were given).
  void CloseClient(int* client_fd);
  // Tells the accept thread to stop, wakes it and any handler it runs, and
  // joins it. Each derived destructor calls it first, while its handler
  // still exists; later calls do nothing.
  void StopAccepting();

  std::string ip_;
  uint32_t port_;
  int32_t listen_fd_;
  uint32_t backlog_;
  int32_t client_fd_;
  // Guards client_fd_ between the accept thread and any other thread that
  // uses the current client (the stream server's sender).
  std::mutex client_mutex_;

 private:
  std::atomic<bool> stopping_{false};
  // Runs AcceptLoop; started by Start, joined by StopAccepting.
  std::thread accept_thread_;
};
