#pragma once
// pesolan's command line.

#include <string>
#include <vector>

namespace host {

extern const char* const kUsage;

struct TcpTarget {
  std::string host;
  int port = 0;
};

struct Options {
  std::string lib;
  std::string locale = "C";
  std::string lang;  // --lang: pesolan's own words, ru or en; empty: the user's
  bool json = false;
  bool help = false;
  bool version = false;
  bool trace = false;
  bool all = false;  // ports: every COM number
  bool ask = false;  // find: ask silent ports through the driver
  std::string command;
  std::vector<TcpTarget> tcp;  // weight and test: one; find: any number
  int com = 0;
  int attrs = 0;
  int unit = 0;
  bool allowUnstable = false;
  bool watch = false;
  int intervalMs = 1000;
  int count = 0;  // 0: until interrupted
  bool tcpChannel() const { return !tcp.empty(); }
};

// Reads the arguments into o; an empty text, or what is wrong with them in
// one line.
std::string ParseArgs(int argc, char** argv, Options* o);

}  // namespace host
