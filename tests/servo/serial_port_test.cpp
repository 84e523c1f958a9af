// Reply waits of the serial transport: signals, hang-ups and a closed port.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "sim_bus_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using servo_sim::ServoFaults;

class SerialPort : public servo_test::SimPortTest {
 protected:
  // Sends a ping to servo 1 and collects its 6-byte reply by hand.
  int pingAndRead(uint64_t timeout_ms) {
    port_.io_timeout_ms_ = timeout_ms;
    port_.sendFrame(1, 0, nullptr, 0, 1);
    port_.sendTx();
    uint8_t buf[6] = {};
    return port_.readRx(buf, 6);
  }
};

TEST_F(SerialPort, SignalsDoNotCutTheWaitShort) {
  struct sigaction sa {};
  sa.sa_handler = [](int) {};
  sigaction(SIGUSR1, &sa, nullptr);  // no SA_RESTART: the wait sees EINTR
  ServoFaults late;
  late.late_reply_us = 150000;
  faults(1, late);
  const pthread_t reader = pthread_self();
  std::thread pester([reader] {
    for (int i = 0; i < 20; ++i) {
      pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  EXPECT_EQ(pingAndRead(2000), 6);
  pester.join();
  signal(SIGUSR1, SIG_DFL);
}

TEST_F(SerialPort, HangUpEndsTheReadInsteadOfWaitingOrSpinning) {
  sim_->hangUp();
  const auto t0 = Clock::now();
  EXPECT_EQ(pingAndRead(10000), 0);
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

}  // namespace
