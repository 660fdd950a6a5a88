// The environment, the trace file, the clock it is stamped with and the
// system's error texts, on Linux.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/os.h"
#include "platform/os_linux.h"

namespace os {

bool EnvironmentText(const char* name, char* value, std::size_t size) {
  const char* found = std::getenv(name);
  if (found == nullptr || found[0] == '\0') return false;
  const int written = std::snprintf(value, size, "%s", found);
  return written > 0 && static_cast<std::size_t>(written) < size;
}

namespace {

// The trace file for appending, or -1. A path that names anything but a
// regular file (or nothing yet) is not opened at all: opening a device may
// change its lines, and opening a FIFO may wait for a reader. O_NOFOLLOW
// refuses a link in the last component; O_NONBLOCK keeps a FIFO put in
// place meanwhile from holding the caller.
int OpenTraceFile(const char* path, struct stat64* file) {
  struct stat64 before{};
  if (StatLink(path, &before) && !S_ISREG(before.st_mode)) return -1;
  const int fd =
      AboveStdio(open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
  if (fd < 0) return -1;
  if (!StatDescriptor(fd, file) || !S_ISREG(file->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Renames the full file at path to path.1, unless someone (another thread
// of the process, another process) has already begun a new one there.
bool RollOver(const char* path, const struct stat64& full) {
  struct stat64 now{};
  if (!StatLink(path, &now) || now.st_ino != full.st_ino || now.st_dev != full.st_dev) return true;
  char older[1100];
  const int written = std::snprintf(older, sizeof older, "%s.1", path);
  if (written <= 0 || static_cast<std::size_t>(written) >= sizeof older) return false;
  return rename(path, older) == 0;
}

}  // namespace

bool AppendTrace(const char* path, const char* text, std::size_t length, uint64_t limit) {
  struct stat64 file{};
  int fd = OpenTraceFile(path, &file);
  if (fd < 0) return false;
  if (file.st_size > 0 && static_cast<uint64_t>(file.st_size) + length > limit) {
    close(fd);
    if (!RollOver(path, file)) return false;
    fd = OpenTraceFile(path, &file);
    if (fd < 0) return false;
  }
  const ssize_t written = write(fd, text, length);
  close(fd);
  return written == static_cast<ssize_t>(length);
}

void LocalTimeText(char* text, std::size_t size) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char seconds[32];
  std::strftime(seconds, sizeof seconds, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text, size, "%s.%03ld", seconds, now.tv_nsec / 1000000L);
}

void LastErrorText(char* text, std::size_t size) {
  const int error = errno;
  // The GNU strerror_r may return a static text instead of filling text.
  const char* message = strerror_r(error, text, size);
  if (message != text) std::snprintf(text, size, "%s", message);
}

}  // namespace os
