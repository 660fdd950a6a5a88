// What `pesolan ports` and `find` say a Linux port is, read from a sysfs
// tree and a by-id folder that the test makes.

#include <gtest/gtest.h>

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "port_identity.h"
#include "utf.h"

namespace {

class FakeSysfs : public testing::Test {
 protected:
  void SetUp() override {
    char made[] = "/tmp/pesolan-sysfs.XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    root_ = made;
    const std::string usb = "/sys/devices/pci0000:00/usb1/1-1";
    Dirs(usb + "/1-1:1.0/ttyUSB0");
    Dirs("/sys/devices/platform/serial8250/tty/ttyS0");
    Dirs("/sys/class/tty/ttyUSB0");
    Dirs("/sys/class/tty/ttyS0");
    Dirs("/sys/class/tty/ttyS1");
    Dirs("/dev/serial/by-id");
    Write(usb + "/idVendor", "0403\n");
    Write(usb + "/idProduct", "6001\n");
    Write(usb + "/manufacturer", "FTDI\n");
    Write(usb + "/product", "FT232R USB UART\x1b[2J\n");  // shown, never obeyed
    Write(usb + "/serial", "A50285BI\n");
    Link(root_ + usb + "/1-1:1.0/ttyUSB0", "/sys/class/tty/ttyUSB0/device");
    Link(root_ + "/sys/devices/platform/serial8250", "/sys/class/tty/ttyS0/device");
    Write("/sys/class/tty/ttyS0/type", "4\n");
    Write("/sys/class/tty/ttyS1/type", "0\n");
    Write("/dev/ttyUSB0", "");
    Link("../../ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  }
  // Without a shell: the test also runs under user-mode emulation, where
  // a process cannot be started.
  void TearDown() override {
    nftw(root_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return std::remove(path); }, 16,
         FTW_DEPTH | FTW_PHYS);
  }

  host::PortIdentity Identify(const std::string& node) {
    return host::IdentifyPort(node, root_ + "/sys", root_ + "/dev/serial/by-id");
  }

  void Dirs(const std::string& path) {
    for (size_t slash = 1; slash != std::string::npos; slash = path.find('/', slash + 1)) {
      mkdir((root_ + path.substr(0, slash)).c_str(), 0755);
    }
    mkdir((root_ + path).c_str(), 0755);
  }
  void Write(const std::string& path, const std::string& text) { std::ofstream(root_ + path) << text; }
  void Link(const std::string& target, const std::string& path) {
    ASSERT_EQ(symlink(target.c_str(), (root_ + path).c_str()), 0) << path;
  }

  std::string root_;
};

TEST_F(FakeSysfs, AUsbAdapterIsNamedByItsIdsMakerProductSerialAndByIdLink) {
  const host::PortIdentity id = Identify("/dev/ttyUSB0");
  EXPECT_EQ(id.kind, "usb");
  EXPECT_EQ(id.vendorId, "0403");
  EXPECT_EQ(id.productId, "6001");
  EXPECT_EQ(id.byId, "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  EXPECT_EQ(id.Text(), "USB 0403:6001 FTDI FT232R USB UART\\x1b[2J, serial A50285BI") << "no escape reaches the terminal";
  EXPECT_EQ(id.Json(),
            ",\"identity\":{\"kind\":\"usb\",\"vendor_id\":\"0403\",\"product_id\":\"6001\",\"manufacturer\":\"FTDI\","
            "\"product\":\"FT232R USB UART\\\\x1b[2J\",\"serial\":\"A50285BI\","
            "\"by_id\":\"usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\"}");
}

TEST_F(FakeSysfs, ABuiltInPortIsNamedByItsUartAndAnUnknownOneByNothing) {
  EXPECT_EQ(Identify("/dev/ttyS0").Text(), "built-in UART 16550A");
  EXPECT_EQ(Identify("/dev/ttyS1").uart, "unknown") << "the kernel's type 0: no hardware";
  const host::PortIdentity none = Identify("/dev/ttyACM0");
  EXPECT_EQ(none.Text(), "");
  EXPECT_EQ(none.Json(), "") << "nothing said of a port the system tells nothing of";
}

// Texts from devices, other processes and the library's trace, as the
// terminal gets them: letters whatever their alphabet, controls escaped.
TEST(TerminalText, ControlsAreEscapedAndTheTracesWindows1251BecomesUtf8) {
  EXPECT_EQ(host::Escaped("Весы \x1b]0;x\x07 \xc2\x9b" "2J\x7f"), "Весы \\x1b]0;x\\x07 \\x9b2J\\x7f");
  EXPECT_EQ(host::ShownTraceLine("cannot connect to \xe2\xe5\xf1\xfb:4000 \xb9\x01"),
            "cannot connect to весы:4000 №\\x01");
  EXPECT_EQ(host::ShownTraceLine("held by another program: весы\x1b (pid 7)"),
            "held by another program: весы\\x1b (pid 7)") << "a process's name in UTF-8";
}

}  // namespace
