#include "support/programs.h"

#include <sys/wait.h>

#include <cstdio>
#include <regex>

namespace testing_support {

Outcome Shell(const std::string& command) {
  Outcome r;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  for (char line[512]; std::fgets(line, sizeof line, p) != nullptr;) r.out += line;
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

Outcome Pesolan(const std::string& args, const std::string& redirect, const std::string& env) {
  // English, whatever the language of the machine running the tests, unless
  // env says otherwise.
  return Shell("LC_ALL= LC_MESSAGES= LANG=C " + env + " " + PESOLAN_PATH + " --lib " + PESOLAN_LIBRARY_PATH + " " + args + " " + redirect);
}

Outcome ScaleSim(const std::string& args, const std::string& redirect) {
  return Shell(std::string(SCALE_SIM_PATH) + " " + args + " " + redirect);
}

std::string Clockless(const std::string& json) {
  static const std::regex kClock(",\"elapsed_ms\":[0-9]+,\"time\":\"20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:"
                                 "[0-5][0-9]:[0-6][0-9]\\.[0-9]{3}Z\"");
  return std::regex_replace(json, kClock, "");
}

std::string Tcp(const SimProcess& sim) { return "--tcp 127.0.0.1:" + std::to_string(sim.port()); }

}  // namespace testing_support
