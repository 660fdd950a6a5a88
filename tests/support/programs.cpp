#include "support/programs.h"

#include <sys/wait.h>

#include <cstdio>

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

namespace {

// Whether text holds, at `at`, digits where form has '9' and form's other
// characters as they are.
bool Matches(const std::string& text, size_t at, const char* form) {
  for (size_t i = 0; form[i] != '\0'; ++i, ++at) {
    if (at >= text.size()) return false;
    const bool digit = text[at] >= '0' && text[at] <= '9';
    if (form[i] == '9' ? !digit : text[at] != form[i]) return false;
  }
  return true;
}

}  // namespace

std::string Clockless(const std::string& json) {
  static const std::string kElapsed = ",\"elapsed_ms\":";
  static const char kTime[] = ",\"time\":\"9999-99-99T99:99:99.999Z\"";
  std::string out;
  size_t from = 0;
  for (size_t at = json.find(kElapsed); at != std::string::npos; at = json.find(kElapsed, at + 1)) {
    size_t end = at + kElapsed.size();
    const size_t digits = end;
    while (end < json.size() && json[end] >= '0' && json[end] <= '9') ++end;
    if (end == digits || !Matches(json, end, kTime)) continue;
    out += json.substr(from, at - from);
    from = end + sizeof kTime - 1;
  }
  return out + json.substr(from);
}

std::string Untimed(const std::string& text) {
  std::string out;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const bool timed = Matches(text, start, "99:99:99 ");
    out += timed ? "T " + text.substr(start + 9, end - start - 9) : text.substr(start, end - start);
    start = end;
  }
  return out;
}

std::string Tcp(const SimProcess& sim) { return "--tcp 127.0.0.1:" + std::to_string(sim.port()); }

}  // namespace testing_support
