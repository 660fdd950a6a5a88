// Linux: which other programs have a serial port's device open. On Linux
// any number of programs may open the same tty, with or without a lock, and
// each then steals the other's bytes: a port another program holds is
// refused, as Windows refuses it.

#include "platform/os.h"
#include "platform/os_linux.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace os {
namespace {

// Pseudo-terminal slaves (/dev/pts/N) and the multiplexer that hands out
// their masters (/dev/ptmx).
bool IsPtySlave(dev_t device) { return major(device) >= 136 && major(device) <= 143; }
bool IsPtyMaster(dev_t device) { return major(device) == 5 && minor(device) == 2; }

// Whether process pid has device open; *master when it holds a
// pseudo-terminal's master.
bool Holds(const char* pid, dev_t device, bool* master) {
  char folder[320];
  std::snprintf(folder, sizeof folder, "/proc/%s/fd", pid);
  DIR* fds = opendir(folder);
  if (fds == nullptr) return false;
  bool holds = false;
  *master = false;
  while (const dirent* fd = readdir(fds)) {
    char link[600];
    struct stat64 target{};
    std::snprintf(link, sizeof link, "%s/%s", folder, fd->d_name);
    if (!StatPath(link, &target) || !S_ISCHR(target.st_mode)) continue;
    holds = holds || target.st_rdev == device;
    *master = *master || IsPtyMaster(target.st_rdev);
  }
  closedir(fds);
  return holds;
}

// How many bytes at s form one printable UTF-8 character beyond ASCII (a
// C1 control is none); 0 when they form none.
int PrintableUtf8(const unsigned char* s) {
  const int length = s[0] >= 0xF0 && s[0] <= 0xF4 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC2 ? 2 : 0;
  for (int i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
  }
  const bool overlong = (s[0] == 0xE0 && s[1] < 0xA0) || (s[0] == 0xF0 && s[1] < 0x90) || (s[0] == 0xF4 && s[1] >= 0x90);
  const bool c1 = s[0] == 0xC2 && s[1] < 0xA0;
  return overlong || c1 ? 0 : length;
}

// "NAME (pid N)", the name as the process gave it (UTF-8) but with control
// characters, backslashes and bytes that are no UTF-8 escaped as \xNN.
void Describe(const char* pid, char* text, std::size_t size) {
  char path[320], name[64] = "?";
  std::snprintf(path, sizeof path, "/proc/%s/comm", pid);
  if (FILE* f = std::fopen(path, "re")) {
    if (std::fgets(name, sizeof name, f) == nullptr) std::strcpy(name, "?");
    std::fclose(f);
  }
  name[std::strcspn(name, "\n")] = '\0';
  char shown[256] = "";
  for (const char* c = name; *c != '\0' && std::strlen(shown) + 5 < sizeof shown; ++c) {
    const unsigned char u = static_cast<unsigned char>(*c);
    const int letter = u >= 0x80 ? PrintableUtf8(reinterpret_cast<const unsigned char*>(c)) : 0;
    char one[8];
    if (letter > 0) {
      std::memcpy(one, c, static_cast<std::size_t>(letter));
      one[letter] = '\0';
      c += letter - 1;
    } else {
      std::snprintf(one, sizeof one, u >= 0x20 && u < 0x7F && u != '\\' ? "%c" : "\\x%02x", u);
    }
    std::strcat(shown, one);
  }
  std::snprintf(text, size, "%s (pid %s)", shown, pid);
}

}  // namespace

// A program that holds a pseudo-terminal's master is the other end of that
// line (the device, as a simulated scale is), not one using the port.
bool SerialPortHolders(int port, char* text, std::size_t size) {
  text[0] = '\0';
  char path[64];
  struct stat64 node{};
  if (!SerialDeviceName(port, path, sizeof path) || !StatPath(path, &node) || !S_ISCHR(node.st_mode)) return false;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  char self[16];
  std::snprintf(self, sizeof self, "%ld", static_cast<long>(getpid()));
  bool found = false;
  while (const dirent* entry = readdir(proc)) {
    const char* pid = entry->d_name;
    if (pid[0] < '0' || pid[0] > '9' || std::strcmp(pid, self) == 0) continue;
    bool master = false;
    if (!Holds(pid, node.st_rdev, &master) || (master && IsPtySlave(node.st_rdev))) continue;
    const std::size_t used = std::strlen(text);
    if (used + 8 >= size) break;
    if (found) std::snprintf(text + used, size - used, ", ");
    Describe(pid, text + std::strlen(text), size - std::strlen(text));
    found = true;
  }
  closedir(proc);
  return found;
}

}  // namespace os
