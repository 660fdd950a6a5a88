#include "support/mapped_ports.h"

#include <cstdio>
#include <map>

#include "platform/os_linux.h"

namespace testing_support {
namespace {

std::map<int, std::string>& Ports() {
  static std::map<int, std::string> ports;
  return ports;
}

bool TestRule(int port, char* path, std::size_t size) {
  const auto found = Ports().find(port);
  if (found == Ports().end()) return false;
  return std::snprintf(path, size, "%s", found->second.c_str()) < static_cast<int>(size);
}

}  // namespace

void InstallPortRule() { os::testing::SetPortPathRule(TestRule); }
void MapPort(int port, const std::string& path) { Ports()[port] = path; }
void UnmapAllPorts() { Ports().clear(); }

}  // namespace testing_support
