#pragma once
// Serial ports as the driver sees them in tests: only the port numbers that a
// test maps to a pseudo-terminal exist, so no test ever opens the machine's
// real serial devices (one of which may be the system console).

#include <string>

namespace testing_support {

void InstallPortRule();  // done once by the test main
void MapPort(int port, const std::string& path);
void UnmapAllPorts();

// Maps a port for the lifetime of a scope.
class MappedPort {
 public:
  MappedPort(int port, const std::string& path) { MapPort(port, path); }
  ~MappedPort() { UnmapAllPorts(); }
};

}  // namespace testing_support
