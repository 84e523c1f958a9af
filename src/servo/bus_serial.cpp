#include "servo/bus_serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

constexpr uint64_t kMaxTimeoutMs = 24ULL * 3600 * 1000;
constexpr tcflag_t kInputFlagsCleared = IXON | ICRNL | ISTRIP | INPCK | BRKINT;
constexpr int kMasterLock = LOCK_EX | LOCK_NB;  // a port already driven is refused, not waited for

speed_t openSpeed(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 500000: return B500000;
    case 1000000: return B1000000;
    default: return B115200;  // 230400 included: the port runs it at 115200
  }
}

bool baudSpeed(int baud, speed_t* speed) {
  switch (baud) {
    case 9600: *speed = B9600; return true;
    case 19200: *speed = B19200; return true;
    case 38400: *speed = B38400; return true;
    case 57600: *speed = B57600; return true;
    case 115200: *speed = B115200; return true;
    case 230400: *speed = B230400; return true;
    case 500000: *speed = B500000; return true;
    default: return false;
  }
}

}  // namespace

BusSerial::BusSerial() {}

BusSerial::BusSerial(uint8_t byte_order) : BusProtocol(byte_order) {}

BusSerial::BusSerial(uint8_t byte_order, uint8_t reply_level)
    : BusProtocol(byte_order, reply_level) {}

int BusSerial::appendTx(const uint8_t* data, int len) {
  if (len < 0 || len > kTxBufSize - tx_len_ || (data == nullptr && len > 0)) {
    tx_overflow_ = true;
    return -1;
  }
  for (int i = 0; i < len; ++i) tx_buf_[tx_len_++] = data[i];
  return tx_len_;
}

int BusSerial::appendTxByte(uint8_t byte) {
  if (tx_len_ >= kTxBufSize) {
    tx_overflow_ = true;
    return -1;
  }
  tx_buf_[tx_len_++] = byte;
  return tx_len_;
}

void BusSerial::sendTx() {
  // A frame that did not fit is dropped whole; a cut frame could still parse.
  if (tx_len_ > 0 && !tx_overflow_ && fd_ >= 0) {
    ssize_t n;
    do {
      n = write(fd_, tx_buf_, static_cast<size_t>(tx_len_));
    } while (n < 0 && errno == EINTR);
  }
  tx_len_ = 0;
  tx_overflow_ = false;
}

void BusSerial::flushRx() {
  if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
}

int BusSerial::readRx(uint8_t* buf, int len) {
  using Clock = std::chrono::steady_clock;
  if (buf == nullptr || len <= 0) return 0;
  // Capped so that no setting can overflow the clock arithmetic.
  const uint64_t timeout_ms = io_timeout_ms_ < kMaxTimeoutMs ? io_timeout_ms_ : kMaxTimeoutMs;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int count = 0;
  while (count < len) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) break;
    const auto left_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    struct timespec wait;
    wait.tv_sec = static_cast<time_t>(left_ns / 1000000000);
    wait.tv_nsec = static_cast<long>(left_ns % 1000000000);
    // A closed port (fd -1) is ignored by ppoll, which then just waits out the time-out.
    struct pollfd pfd = {fd_, POLLIN, 0};
    const int ready = ppoll(&pfd, 1, &wait, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) break;
    if ((pfd.revents & POLLIN) == 0) break;  // hang-up or error with nothing to read
    const ssize_t n = read(fd_, buf + count, static_cast<size_t>(len - count));
    if (n > 0) {
      count += static_cast<int>(n);
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      break;  // end of file or a dead line: waiting on would only spin
    }
  }
  return count;
}

int BusSerial::getError() { return error_; }

int BusSerial::setBaud(int baud) {
  if (fd_ == -1) return -1;
  tcgetattr(fd_, &saved_termios_);
  tcgetattr(fd_, &termios_);
  speed_t speed;
  if (baudSpeed(baud, &speed)) {
    cfsetispeed(&termios_, speed);
    cfsetospeed(&termios_, speed);
  }
  return 1;
}

bool BusSerial::openPort(int baud, const char* path) {
  if (fd_ != -1) {
    close(fd_);
    fd_ = -1;
  }
  if (path == nullptr) return false;
  fd_ = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ == -1) {
    perror("open:");
    return false;
  }
  // One master per bus: a second controller would take the first one's
  // answers and switch its servos behind its back.
  if (flock(fd_, kMasterLock) != 0) {
    fprintf(stderr, "open: %s is driven by another process\n", path);
    closePort();
    return false;
  }
  fcntl(fd_, F_SETFL, O_NONBLOCK);
  tcgetattr(fd_, &saved_termios_);
  tcgetattr(fd_, &termios_);
  const speed_t speed = openSpeed(baud);
  cfsetispeed(&termios_, speed);
  cfsetospeed(&termios_, speed);
  printf("serial speed %d\n", baud);
  termios_.c_cflag &= ~PARENB;
  termios_.c_cflag &= ~CSTOPB;
  termios_.c_cflag &= ~CSIZE;
  termios_.c_cflag |= CS8;
  termios_.c_cflag |= CREAD;
  termios_.c_cflag |= CLOCAL;
  cfmakeraw(&termios_);
  termios_.c_iflag &= ~kInputFlagsCleared;
  if (tcsetattr(fd_, TCSANOW, &termios_) != 0) {
    perror("tcsetattr:");
    return false;
  }
  return true;
}

void BusSerial::closePort() {
  if (fd_ != -1) close(fd_);
  fd_ = -1;
}
