// The Linux serial layer's fixed rules: which device node a COM port number
// names, and which terminal settings a line setting becomes. (Pseudo-
// terminals always report 8 data bits and no parity, so the line settings
// are checked here rather than on a simulated port.)

#include <gtest/gtest.h>

#include <termios.h>

#include "platform/os_linux.h"

namespace {

std::string PathOf(int port) {
  char path[64];
  return os::PortDevicePath(port, path, sizeof path) ? path : "<none>";
}

TEST(PortDevicePath, CoversOnBoardUsbAndCdcPortsInOrder) {
  EXPECT_EQ(PathOf(1), "/dev/ttyS0");
  EXPECT_EQ(PathOf(64), "/dev/ttyS63");
  EXPECT_EQ(PathOf(65), "/dev/ttyUSB0");
  EXPECT_EQ(PathOf(192), "/dev/ttyUSB127");
  EXPECT_EQ(PathOf(193), "/dev/ttyACM0");
  EXPECT_EQ(PathOf(256), "/dev/ttyACM63");
}

TEST(PortDevicePath, NumbersOutsideOneTo256MapToNothing) {
  EXPECT_EQ(PathOf(0), "<none>");
  EXPECT_EQ(PathOf(257), "<none>");
  EXPECT_EQ(PathOf(-5), "<none>");
  char small[8];
  EXPECT_FALSE(os::PortDevicePath(1, small, sizeof small)) << "a path that does not fit is refused";
}

termios Made(const os::LineSettings& line) {
  termios tio{};
  tio.c_cflag = CRTSCTS | CSTOPB | PARODD;  // leftovers that must go
  tio.c_iflag = IXON | IXOFF;
  tio.c_lflag = ICANON | ECHO;
  EXPECT_TRUE(os::MakeLineTermios(line, &tio));
  return tio;
}

TEST(LineTermios, NineSixHundredNoParityEightBitsOneStopBit) {
  const termios tio = Made({9600, 0, 8, 0});
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
  EXPECT_NE(tio.c_cflag & CREAD, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST(LineTermios, EvenParitySevenBits) {
  const termios tio = Made({9600, 2, 7, 0});
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_NE(tio.c_cflag & PARENB, 0u);
  EXPECT_EQ(tio.c_cflag & PARODD, 0u);
  EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
}

TEST(LineTermios, SettingsThePortCannotTakeAreRefused) {
  termios tio{};
  EXPECT_FALSE(os::MakeLineTermios({9600, 0, 5, 0}, &tio));
  EXPECT_FALSE(os::MakeLineTermios({9600, 3, 8, 0}, &tio)) << "mark parity";
  EXPECT_FALSE(os::MakeLineTermios({9601, 0, 8, 0}, &tio));
  EXPECT_FALSE(os::MakeLineTermios({9600, 0, 8, 1}, &tio)) << "one and a half stop bits";
}

}  // namespace

namespace {

// The transmit-empty wait sleeps for the queued bytes' time on the line.
TEST(LineTime, CountsStartParityAndStopBitsAndBoundsTheSleep) {
  EXPECT_EQ(os::CharMicroseconds({9600, 0, 8, 0}), 1041u) << "8N1: 10 bits";
  EXPECT_EQ(os::CharMicroseconds({9600, 2, 7, 0}), 1041u) << "7E1: 10 bits";
  EXPECT_EQ(os::CharMicroseconds({1200, 2, 8, 2}), 10000u) << "8E2: 12 bits";
  EXPECT_EQ(os::DrainSleepMs(3, 1041, 256), 4u) << "three bytes at 9600 baud, rounded up";
  EXPECT_EQ(os::DrainSleepMs(0, 1041, 256), 1u) << "an empty queue with a byte in the shift register";
  EXPECT_EQ(os::DrainSleepMs(4096, 10000, 30), 30u) << "never past the time left";
}

}  // namespace
