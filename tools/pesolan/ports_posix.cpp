// The serial ports on Linux. COM numbers map to device nodes by the driver's
// fixed rule: 1..64 /dev/ttyS0.., 65..192 /dev/ttyUSB0.., 193..256
// /dev/ttyACM0...

// Directory entries and file sizes in 64 bits on 32-bit systems too: a
// filesystem with large inode numbers fails readdir otherwise (EOVERFLOW).
#define _FILE_OFFSET_BITS 64

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/os.h"
#include "ports.h"
#include "words.h"

namespace host {
namespace {

// The platform layer's rule for which device a COM number is.
std::string DeviceOf(int com) {
  char name[64] = "";
  os::SerialDeviceName(com, name, sizeof name);
  return name;
}

// The programs (other than this one) that have the port open, lock or no
// lock, as the driver sees them: "scale-sim (pid 812)".
std::string Holders(int com) {
  char text[512];
  return os::SerialPortHolders(com, text, sizeof text) ? text : "";
}

// What would let the user open the node. A group that may read and write
// it is the one to join; otherwise no group helps (and root's is never the
// answer), and a udev rule must give the node one.
std::string PermissionHint(const std::string& device, const struct stat& node) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(node.st_mode & 07777));
  const group* g = getgrgid(node.st_gid);
  const std::string name = g != nullptr ? g->gr_name : std::to_string(node.st_gid);
  const bool groupMayUse = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && node.st_gid != 0;
  if (groupMayUse) {
    return Fill(L("the node belongs to group '{}' (mode {}): add the user to it (usermod -aG {} USER) and log in again"),
                {name, mode, name});
  }
  const std::string kernel = device.substr(device.find_last_of('/') + 1);
  return Fill(L("the node's mode is {} and its group '{}': joining a group does not help; a udev rule can give it one, "
                "such as {} in /etc/udev/rules.d/60-scale.rules, and then add the user to group 'dialout'"),
              {mode, name, "KERNEL==\"" + kernel + "\", GROUP=\"dialout\", MODE=\"0660\""});
}

bool HasNoUart(int fd, const std::string& node) {
  serial_struct info{};
  return node.compare(0, 9, "/dev/ttyS") == 0 && ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
}

PortState Look(int com) {
  PortState p{com, DeviceOf(com), "absent", "", {}};
  struct stat node{};
  if (stat(p.device.c_str(), &node) != 0) return p;
  // A port another program has open is in use, whether it locked it or not:
  // it is not opened here.
  const std::string holders = S_ISCHR(node.st_mode) ? Holders(com) : "";
  if (!holders.empty()) {
    p.state = "in use";
    p.detail = holders;
    return p;
  }
  const int fd = open(p.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      p.state = "no permission";
      p.detail = PermissionHint(p.device, node);
    } else if (error == EBUSY) {
      p.state = "in use";
      p.detail = Holders(com);
    } else if (error != ENOENT && error != ENXIO && error != ENODEV) {
      p.state = "cannot open";
      p.detail = std::strerror(error);
    }
    return p;
  }
  if (!isatty(fd)) {
    p.detail = L("not a terminal");
  } else if (HasNoUart(fd, p.device)) {
    p.state = "no UART";
    p.detail = L("the kernel has the node but no serial hardware behind it");
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    p.state = "in use";
    p.detail = Holders(com);
  } else {
    p.state = "free";
  }
  close(fd);
  return p;
}

}  // namespace

PortState LookAtPort(int com) { return Look(com); }

}  // namespace host
