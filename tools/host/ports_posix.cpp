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

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/os.h"
#include "ports.h"

namespace host {
namespace {

// The platform layer's rule for which device a COM number is.
std::string DeviceOf(int com) {
  char name[64] = "";
  os::SerialDeviceName(com, name, sizeof name);
  return name;
}

std::string ReadLine(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return "";
  char line[256] = {};
  if (std::fgets(line, sizeof line, f) == nullptr) line[0] = '\0';
  std::fclose(f);
  line[std::strcspn(line, "\n")] = '\0';
  return line;
}

// Another process's name as text safe for a terminal: anything but
// printable ASCII (an escape sequence, say) is written as \xNN.
std::string Printable(const std::string& name) {
  std::string out;
  for (const unsigned char c : name) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

// Pseudo-terminal slaves (/dev/pts/N) and the multiplexer that hands out
// their masters (/dev/ptmx).
bool IsPtySlave(dev_t device) { return major(device) >= 136 && major(device) <= 143; }
bool IsPtyMaster(dev_t device) { return major(device) == 5 && minor(device) == 2; }

// The programs (other than this one) that have the terminal device open,
// with or without a lock: "scale-sim (pid 812)". A program that holds a
// pseudo-terminal's master is the other end of that line (the device, as a
// simulated scale is), not one using the port. The system tells only about
// processes we may look into.
std::string Holders(dev_t device) {
  std::string found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  const std::string self = std::to_string(getpid());
  while (dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    DIR* fds = opendir(("/proc/" + pid + "/fd").c_str());
    if (fds == nullptr) continue;
    bool holds = false, master = false;
    while (dirent* fd = readdir(fds)) {
      struct stat target{};
      const std::string link = "/proc/" + pid + "/fd/" + fd->d_name;
      if (stat(link.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) continue;
      holds = holds || target.st_rdev == device;
      master = master || IsPtyMaster(target.st_rdev);
    }
    closedir(fds);
    if (holds && !(master && IsPtySlave(device))) {
      found += (found.empty() ? "" : ", ") + Printable(ReadLine("/proc/" + pid + "/comm")) + " (pid " + pid + ")";
    }
  }
  closedir(proc);
  return found;
}

std::string GroupHint(const struct stat& node) {
  const group* g = getgrgid(node.st_gid);
  const std::string name = g != nullptr ? g->gr_name : std::to_string(node.st_gid);
  return "the node belongs to group '" + name + "': add the user to it (usermod -aG " + name +
         " USER) and log in again";
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
  const std::string holders = S_ISCHR(node.st_mode) ? Holders(node.st_rdev) : "";
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
      p.detail = GroupHint(node);
    } else if (error == EBUSY) {
      p.state = "in use";
      p.detail = Holders(node.st_rdev);
    } else if (error != ENOENT && error != ENXIO && error != ENODEV) {
      p.state = "cannot open";
      p.detail = std::strerror(error);
    }
    return p;
  }
  if (!isatty(fd)) {
    p.detail = "not a terminal";
  } else if (HasNoUart(fd, p.device)) {
    p.state = "no UART";
    p.detail = "the kernel has the node but no serial hardware behind it";
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    p.state = "in use";
    p.detail = Holders(node.st_rdev);
  } else {
    p.state = "free";
  }
  close(fd);
  return p;
}

}  // namespace

PortState LookAtPort(int com) { return Look(com); }

}  // namespace host
