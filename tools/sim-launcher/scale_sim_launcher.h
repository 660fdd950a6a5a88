#pragma once
// Runs scale-sim as a child process for as long as the object lives: the
// launcher of the tests and of the benchmark.
//
// A program under user-mode emulation can neither fork nor start threads,
// and one in a virtual machine may want a scale on its host. When the
// environment variable PESOLAN_SIM_BROKER names a loopback port (or
// ADDRESS:PORT), the scale-sim is started by the scale-sim-broker listening
// there instead, and lives as long as the connection to it (POSIX only).

#include <cstdint>
#include <string>
#include <vector>

namespace scale_sim {

class SimProcess {
 public:
  // Starts the scale-sim program at path with args and a lifetime in
  // seconds, and waits until it has said where it can be reached.
  SimProcess(const std::string& path, std::vector<std::string> args, int lifetimeSeconds);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool ok() const { return (pid_ > 0 || broker_ >= 0) && (port_ > 0 || !ptyPath_.empty() || attached_); }
  int port() const { return port_; }
  // Stream and request mode trade places (POSIX only).
  void SwitchMode();
  // One line of commands for a scale-sim started with --control (POSIX
  // only): true once the scale-sim has carried it out; false when it
  // refused it or could not be reached.
  bool Command(const std::string& line);
  const std::string& ptyPath() const { return ptyPath_; }
  bool attached() const { return attached_; }

 private:
  // Takes the lines in which scale-sim says where it can be reached.
  bool TakeWhere(const std::string& line);
  void StartThroughBroker(const std::string& broker, const std::vector<std::string>& args, int lifetimeSeconds);

  long pid_ = -1;
  int input_ = -1;           // the scale-sim's standard input
  int output_ = -1;          // and its standard output
  int broker_ = -1;          // the connection to scale-sim-broker
  void* process_ = nullptr;  // Windows: the process handle
  int port_ = 0;
  std::string ptyPath_;
  bool attached_ = false;  // --attach: on a local socket of its host's
};

// A loopback TCP port on which nothing listens, held while the object lives:
// bound and never listening, so that connections are refused and no other
// program can listen there meanwhile. A scale that is not there.
class ClosedTcpPort {
 public:
  ClosedTcpPort();
  ~ClosedTcpPort();
  ClosedTcpPort(const ClosedTcpPort&) = delete;
  ClosedTcpPort& operator=(const ClosedTcpPort&) = delete;
  int port() const { return port_; }

 private:
  intptr_t socket_ = -1;
  int port_ = 0;
};

// Whether this process's /dev is the private one that tests/private-dev.sh
// mounts (no serial device of the machine in it), as the process's own
// mount table shows (POSIX only): an environment variable could be set by
// hand.
bool InPrivateDev();

// One line to the scale-sim-broker that PESOLAN_SIM_BROKER names, on a
// connection of its own, and its one-line answer (POSIX only).
bool AskBroker(const std::string& line, std::string* answer);

// An argument as one field of a request to scale-sim-broker (tab-separated,
// one line): backslash, tab and line breaks escaped; and back.
std::string BrokerField(const std::string& arg);
std::string FromBrokerField(const std::string& field);

}  // namespace scale_sim
