// The fixed rule that maps a COM port number to a Linux device node.

#include <gtest/gtest.h>

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

}  // namespace
