#pragma once
// Runs scale-sim as a child process for the length of a test.

#include <string>
#include <vector>

namespace testing_support {

class SimProcess {
 public:
  // Starts scale-sim with args (a lifetime is added) and waits until it has
  // said where it can be reached.
  explicit SimProcess(std::vector<std::string> args);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool ok() const { return pid_ > 0 && (port_ > 0 || !ptyPath_.empty()); }
  int port() const { return port_; }
  // Stream and request mode trade places (POSIX only).
  void SwitchMode();
  const std::string& ptyPath() const { return ptyPath_; }

 private:
  long pid_ = -1;
  void* process_ = nullptr;  // Windows: the process handle
  int port_ = 0;
  std::string ptyPath_;
};

// A loopback TCP port on which nothing listens.
int ClosedTcpPort();

}  // namespace testing_support
