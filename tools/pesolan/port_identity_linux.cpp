// What a Linux serial port is, from sysfs and /dev/serial/by-id; nothing is
// opened but files of those trees.

// Directory entries and file sizes in 64 bits on 32-bit systems too: a
// filesystem with large inode numbers fails readdir otherwise (EOVERFLOW).
#define _FILE_OFFSET_BITS 64

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>

#include "port_identity.h"
#include "utf.h"

namespace host {
namespace {

// The first line of a sysfs file, without its line end and with control
// characters escaped (a device names itself, and it is printed on a
// terminal); "" when none.
std::string Attribute(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return "";
  char line[256] = {};
  if (std::fgets(line, sizeof line, f) == nullptr) line[0] = '\0';
  std::fclose(f);
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return Escaped(text);
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// The kernel's serial_core port types (include/uapi/linux/serial_core.h).
std::string UartName(const std::string& type) {
  static const char* const kNames[] = {"unknown", "8250",   "16450",  "16550",   "16550A", "Cirrus",
                                       "16650",   "16650V2", "16750", "Startech", "16C950", "16654",
                                       "16850",   "RSA"};
  const int n = type.empty() ? -1 : std::atoi(type.c_str());
  if (n >= 0 && n < static_cast<int>(sizeof kNames / sizeof kNames[0])) return kNames[n];
  return type.empty() ? "" : "type " + type;
}

// The by-id link that points at the node: "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0".
std::string ById(const std::string& byIdDir, const std::string& name) {
  std::string found;
  DIR* dir = opendir(byIdDir.c_str());
  if (dir == nullptr) return found;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string target = RealPath(byIdDir + "/" + e->d_name);
    const size_t slash = target.rfind('/');
    if (slash != std::string::npos && target.substr(slash + 1) == name) found = e->d_name;
  }
  closedir(dir);
  return found;
}

}  // namespace

PortIdentity IdentifyPort(const std::string& device, const std::string& sysfs, const std::string& byIdDir) {
  PortIdentity id;
  const std::string name = device.substr(device.rfind('/') + 1);
  const std::string tty = sysfs + "/class/tty/" + name;
  id.byId = ById(byIdDir, name);
  // A USB adapter: the USB device is an ancestor of the port's device, the
  // first one with a vendor id.
  std::string dir = RealPath(tty + "/device");
  for (int up = 0; up < 6 && !dir.empty() && dir.size() > sysfs.size(); ++up) {
    const std::string vendor = Attribute(dir + "/idVendor");
    if (!vendor.empty()) {
      id.kind = "usb";
      id.vendorId = vendor;
      id.productId = Attribute(dir + "/idProduct");
      id.manufacturer = Attribute(dir + "/manufacturer");
      id.product = Attribute(dir + "/product");
      id.serial = Attribute(dir + "/serial");
      return id;
    }
    dir = dir.substr(0, dir.rfind('/'));
  }
  const std::string type = Attribute(tty + "/type");
  if (name.compare(0, 4, "ttyS") == 0 && !type.empty()) {
    id.kind = "uart";
    id.uart = UartName(type);
  }
  return id;
}

}  // namespace host
