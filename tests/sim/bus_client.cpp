#include "bus_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

namespace sim_test {

bool BusClient::open(const std::string& path) {
  close();
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return false;
  termios tio{};
  tcgetattr(fd_, &tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, B1000000);
  cfsetospeed(&tio, B1000000);
  return tcsetattr(fd_, TCSANOW, &tio) == 0;
}

void BusClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool BusClient::send(const Bytes& bytes) {
  return fd_ >= 0 && ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

Bytes BusClient::receive(size_t count, milliseconds timeout) {
  Bytes out;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  uint8_t buf[512];
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfd{fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
    if (!(pfd.revents & POLLIN)) break;  // hang-up or error
    const ssize_t n = ::read(fd_, buf, std::min(sizeof(buf), count - out.size()));
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

Bytes BusClient::transact(const Bytes& frame, size_t count, milliseconds timeout) {
  if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
  if (!send(frame)) return {};
  return receive(count, timeout);
}

Bytes frame(uint8_t id, uint8_t instruction, const Bytes& params) {
  return servo_sim::makeInstructionFrame(id, instruction, params);
}

Bytes statusReply(uint8_t id, uint8_t error, const Bytes& params) {
  return servo_sim::makeStatusReply(id, error, params.data(), params.size());
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bool waitUntil(const std::function<bool()>& cond, milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

}  // namespace sim_test
