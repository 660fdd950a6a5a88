#pragma once
// pesolan's command line.

#include <string>

namespace host {

extern const char* const kUsage;

struct Options {
  std::string lib;
  std::string locale = "C";
  bool json = false;
  bool help = false;
  bool version = false;
  bool trace = false;
  bool all = false;  // ports: every COM number
  std::string command;
  std::string tcpHost;
  int tcpPort = 0;
  int com = 0;
  int attrs = 0;
  int unit = 0;
  bool allowUnstable = false;
  bool watch = false;
  int intervalMs = 1000;
  int count = 0;  // 0: until interrupted
};

// Reads the arguments into o; an empty text, or what is wrong with them.
std::string ParseArgs(int argc, char** argv, Options* o);

}  // namespace host
