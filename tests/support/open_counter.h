#pragma once
// Counts the opens of files as the kernel reports them (inotify), whoever
// opens them: how many times a call opens the trace file or a port's node.

#include <map>
#include <string>
#include <vector>

namespace testing_support {

class OpenCounter {
 public:
  // Watches each path that exists now (a file, a device node, or the
  // pseudo-terminal bound onto one).
  explicit OpenCounter(const std::vector<std::string>& paths);
  ~OpenCounter();
  OpenCounter(const OpenCounter&) = delete;
  OpenCounter& operator=(const OpenCounter&) = delete;

  bool ok() const { return fd_ >= 0 && !watched_.empty(); }
  // Opens seen since the last call, by path.
  std::map<std::string, int> Take();
  // Their sum.
  int TakeTotal();

 private:
  int fd_;
  std::map<int, std::string> watched_;
};

}  // namespace testing_support
