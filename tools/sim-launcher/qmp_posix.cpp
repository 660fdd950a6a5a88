// A command to a QEMU machine's monitor (QMP), for tests inside the machine
// that pull out or plug in a device of it through scale-sim-broker.

#include "qmp.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace scale_sim {
namespace {

// The next line the monitor says, waiting at most 5 s for it.
bool NextLine(int fd, std::string* pending, std::string* line) {
  for (;;) {
    const size_t end = pending->find('\n');
    if (end != std::string::npos) {
      *line = pending->substr(0, end);
      pending->erase(0, end + 1);
      return true;
    }
    pollfd one{fd, POLLIN, 0};
    char buffer[4096];
    if (poll(&one, 1, 5000) <= 0) return false;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending->append(buffer, static_cast<size_t>(n));
  }
}

// Sends a command and waits for its answer; events in between are skipped.
bool Execute(int fd, std::string* pending, const std::string& command, std::string* answer) {
  const std::string sent = command + "\n";
  if (write(fd, sent.data(), sent.size()) != static_cast<ssize_t>(sent.size())) return false;
  for (std::string line; NextLine(fd, pending, &line);) {
    if (line.find("\"return\"") != std::string::npos || line.find("\"error\"") != std::string::npos) {
      *answer = line;
      return line.find("\"return\"") != std::string::npos;
    }
  }
  return false;
}

}  // namespace

bool QmpExecute(const std::string& socketPath, const std::string& command, std::string* answer) {
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof at.sun_path) return false;
  socketPath.copy(at.sun_path, sizeof at.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  std::string pending, greeting;
  const bool done = connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                    NextLine(fd, &pending, &greeting) &&
                    Execute(fd, &pending, "{\"execute\":\"qmp_capabilities\"}", answer) &&
                    Execute(fd, &pending, command, answer);
  close(fd);
  return done;
}

}  // namespace scale_sim
