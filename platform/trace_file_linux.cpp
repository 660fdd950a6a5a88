// The trace file, the clock it is stamped with and the system's error texts,
// on Linux.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "platform/os.h"

namespace os {

bool TracePath(char* path, std::size_t size) {
  const char* value = std::getenv("PESOLAN_TRACE");
  if (value == nullptr || value[0] == '\0') return false;
  const int written = std::snprintf(path, size, "%s", value);
  return written > 0 && static_cast<std::size_t>(written) < size;
}

bool AppendToFile(const char* path, const char* text, std::size_t length) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return false;
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
