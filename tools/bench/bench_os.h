#pragma once
// What pesolan-bench needs from the system: scale-sim as a child process,
// the process's CPU time, a description of the machine, and (Linux, in the
// private /dev) a pseudo-terminal placed at the serial port's node.

#include <string>
#include <vector>

namespace bench {

class Sim {
 public:
  // Starts the scale-sim at path with args and reads where it can be reached.
  Sim(const std::string& path, std::vector<std::string> args);
  ~Sim();
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;
  int port() const { return port_; }
  const std::string& pty() const { return pty_; }

 private:
  void* process_ = nullptr;
  long pid_ = -1;
  int port_ = 0;
  std::string pty_;
};

// Milliseconds of CPU time the process has used, user and system.
double CpuMs();
// Milliseconds of a monotonic clock.
double NowMs();
std::string Machine();
// Binds the pseudo-terminal onto the node of the benchmark's serial port;
// false where that cannot be done (not in the private /dev, or Windows).
bool PlacePty(const std::string& pty);
void RemovePty();

}  // namespace bench
