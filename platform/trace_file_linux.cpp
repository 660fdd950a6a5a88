// The environment, the trace file, the clock it is stamped with and the
// system's error texts, on Linux.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
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

// Waits up to 100 ms for the file's lock: another writer holds it only for
// the moment of a roll-over.
bool LockFile(int fd) {
  for (int tries = 0; tries < 100; ++tries) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    Sleep(1);
  }
  return false;
}

// The file at path is still the one open as fd, and still too full for
// length more bytes.
bool StillFull(const char* path, int fd, std::size_t length, uint64_t limit) {
  struct stat64 open{}, named{};
  return StatDescriptor(fd, &open) && StatLink(path, &named) && named.st_ino == open.st_ino &&
         named.st_dev == open.st_dev && static_cast<uint64_t>(open.st_size) + length > limit;
}

// Moves the full file aside to path.1 under its lock, so that of several
// writers past the limit at once only the first rolls it over (the others
// then find a new file at path). When it cannot be moved (a folder the
// writer may not rename in), the file starts afresh with a line that says
// so: it never grows past twice the limit, and the trace goes on.
void RollOver(const char* path, int fd, std::size_t length, uint64_t limit) {
  if (!LockFile(fd)) return;
  if (!StillFull(path, fd, length, limit)) return;  // closing fd unlocks it
  char older[1100];
  const int written = std::snprintf(older, sizeof older, "%s.1", path);
  if (written > 0 && static_cast<std::size_t>(written) < sizeof older && rename(path, older) == 0) return;
  char why[160], note[1400];
  LastErrorText(why, sizeof why);
  const int n = std::snprintf(note, sizeof note, "trace: cannot move %s aside to %s.1 (%s): the file starts afresh\n",
                              path, path, why);
  if (ftruncate(fd, 0) == 0 && n > 0) {
    const ssize_t ignored = write(fd, note, static_cast<std::size_t>(n) < sizeof note ? static_cast<std::size_t>(n) : sizeof note - 1);
    (void)ignored;
  }
}

}  // namespace

bool AppendTrace(const char* path, const char* text, std::size_t length, uint64_t limit) {
  struct stat64 file{};
  int fd = OpenTraceFile(path, &file);
  if (fd < 0) return false;
  if (file.st_size > 0 && static_cast<uint64_t>(file.st_size) + length > limit) {
    RollOver(path, fd, length, limit);
    close(fd);
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
