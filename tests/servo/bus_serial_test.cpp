// The serial port's settings as the kernel reports them, on a pseudo-terminal.
#include <gtest/gtest.h>
#include <termios.h>

#include <string>
#include <utility>

#include "servo/bus_serial.h"
#include "servo_sim/servo_bus_sim.h"
#include "stdout_capture.h"

namespace {

termios kernelSettings(int fd) {
  termios t{};
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  return t;
}

// Each open starts from a line set up unlike the bus: 7 bits, parity, two stop bits, cooked.
TEST(BusSerialPort, OpenSetsRawEightBitsAtTheSpeedOfItsTableAndSetBaudOnlyTheWorkingSettings) {
  servo_sim::ServoBusSim sim;
  ASSERT_TRUE(sim.start());
  BusSerial port;
  EXPECT_EQ(port.setBaud(115200), -1);  // no port open
  ASSERT_TRUE(port.openPort(115200, sim.slavePath().c_str()));
  const std::pair<int, speed_t> speeds[] = {
      {230400, B115200}, {1000000, B1000000}, {500000, B500000}, {9600, B9600}, {12345, B115200}};
  for (const auto& [baud, speed] : speeds) {
    SCOPED_TRACE(baud);
    termios cooked = kernelSettings(port.fd_);
    cooked.c_cflag = (cooked.c_cflag & ~(CSIZE | CREAD | CLOCAL)) | CS7 | PARENB | CSTOPB;
    cooked.c_iflag |= IXON | ICRNL | ISTRIP | INPCK | BRKINT;
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_oflag |= OPOST;
    ASSERT_EQ(tcsetattr(port.fd_, TCSANOW, &cooked), 0);
    arm_test::StdoutCapture out;
    ASSERT_TRUE(port.openPort(baud, sim.slavePath().c_str()));
    EXPECT_EQ(out.text(), "serial speed " + std::to_string(baud) + "\n");  // as asked, not as set
    const termios t = kernelSettings(port.fd_);
    EXPECT_EQ(cfgetispeed(&t), speed);
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CREAD | CLOCAL), CS8 | CREAD | CLOCAL);
    EXPECT_EQ(t.c_iflag & (IXON | ICRNL | ISTRIP | INPCK | BRKINT), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
  }
  // 230400 is in setBaud's table; the line keeps the speed it was opened at (12345: 115200).
  EXPECT_EQ(port.setBaud(230400), 1);
  EXPECT_EQ(cfgetospeed(&port.termios_), B230400);
  EXPECT_EQ(cfgetispeed(&port.termios_), B230400);
  EXPECT_EQ(cfgetospeed(&port.saved_termios_), B115200);
  const termios t = kernelSettings(port.fd_);
  EXPECT_EQ(cfgetispeed(&t) + cfgetospeed(&t), 2u * B115200);
  port.closePort();
  EXPECT_EQ(port.setBaud(115200), -1);
}

}  // namespace
