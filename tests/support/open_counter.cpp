#include "support/open_counter.h"

#include <sys/inotify.h>
#include <unistd.h>

namespace testing_support {

OpenCounter::OpenCounter(const std::vector<std::string>& paths) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (fd_ < 0) return;
  for (const std::string& path : paths) {
    // Closes too: the kernel folds an event into an identical one not yet
    // read, and a close between two opens keeps them apart.
    const int wd = inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE);
    if (wd >= 0) watched_[wd] = path;
  }
}

OpenCounter::~OpenCounter() {
  if (fd_ >= 0) close(fd_);
}

std::map<std::string, int> OpenCounter::Take() {
  std::map<std::string, int> opens;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t n; fd_ >= 0 && (n = read(fd_, buffer, sizeof buffer)) > 0;) {
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if ((event->mask & IN_OPEN) != 0 && watched_.count(event->wd) != 0) ++opens[watched_[event->wd]];
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return opens;
}

int OpenCounter::TakeTotal() {
  int total = 0;
  for (const auto& path : Take()) total += path.second;
  return total;
}

}  // namespace testing_support
