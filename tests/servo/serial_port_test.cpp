// The serial transport on a raw pseudo-terminal whose other end the test
// drives by hand: time-outs, partial replies, signals, hang-ups, a closed port.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "bus_serial.h"

namespace {

using Clock = std::chrono::steady_clock;

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0);
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    ASSERT_TRUE(port_.openPort(1000000, ptsname(master_)));
  }
  void TearDown() override {
    port_.closePort();
    if (master_ >= 0) close(master_);
  }
  void feed(const std::vector<uint8_t>& v) { ASSERT_EQ(write(master_, v.data(), v.size()), (ssize_t)v.size()); }

  BusSerial port_;
  int master_ = -1;
};

TEST_F(SerialPort, PartialReplyIsReturnedWhenTheTimeOutEnds) {
  port_.io_timeout_ms_ = 50;
  feed({1, 2, 3, 4});
  uint8_t buf[6] = {};
  const auto t0 = Clock::now();
  EXPECT_EQ(port_.readRx(buf, 6), 4);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(50));
  EXPECT_EQ(buf[3], 4);
}

TEST_F(SerialPort, SignalsDoNotCutTheWaitShort) {
  struct sigaction sa {};
  sa.sa_handler = [](int) {};
  sigaction(SIGUSR1, &sa, nullptr);  // no SA_RESTART: the wait sees EINTR
  port_.io_timeout_ms_ = 2000;
  const pthread_t reader = pthread_self();
  std::thread pester([&] {
    for (int i = 0; i < 20; ++i) {
      pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    feed({0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFC});
  });
  uint8_t buf[6];
  EXPECT_EQ(port_.readRx(buf, 6), 6);
  pester.join();
  signal(SIGUSR1, SIG_DFL);
}

TEST_F(SerialPort, HangUpEndsTheReadInsteadOfWaitingOrSpinning) {
  port_.io_timeout_ms_ = 10000;
  close(master_);
  master_ = -1;
  uint8_t buf[6];
  const auto t0 = Clock::now();
  EXPECT_EQ(port_.readRx(buf, 6), 0);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
}

TEST_F(SerialPort, ClosedPortIsHarmless) {
  EXPECT_FALSE(port_.openPort(1000000, nullptr));  // closes the open port
  EXPECT_EQ(port_.fd_, -1);
  port_.closePort();
  EXPECT_EQ(port_.setBaud(115200), -1);
  port_.io_timeout_ms_ = 10;
  EXPECT_EQ(port_.writeRegByte(1, 40, 1), 0);
  EXPECT_EQ(port_.tx_len_, 0);
  EXPECT_FALSE(port_.openPort(1000000, "/nonexistent/servoBus"));
  EXPECT_EQ(port_.fd_, -1);
}

TEST_F(SerialPort, OverfullFrameIsDroppedWhole) {
  uint8_t block[200] = {};
  EXPECT_EQ(port_.appendTx(block, 200), 200);
  EXPECT_EQ(port_.appendTx(block, 57), -1);  // would not fit: nothing appended
  port_.sendTx();
  port_.appendTxByte(0x42);
  port_.sendTx();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  uint8_t got[512];
  ASSERT_EQ(read(master_, got, sizeof(got)), 1);
  EXPECT_EQ(got[0], 0x42);
}

}  // namespace
