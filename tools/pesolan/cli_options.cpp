#include "cli_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/os.h"

namespace host {

const char* const kUsage =
    "usage: pesolan [--lib PATH] [--locale NAME] [--lang ru|en] [--json] COMMAND [OPTIONS]\n"
    "       pesolan --version | --help | help\n"
    "commands:\n"
    "  describe               the driver's description document\n"
    "  settings               the settings page, with the serial ports found\n"
    "  actions                the additional actions document\n"
    "  ports [--all]          each serial port, what it is and what opening it would meet\n"
    "                         (--all: every COM number, absent ones included)\n"
    "  find [--ask] [--trace] | find --tcp HOST:PORT... [--trace]\n"
    "                         look for scales: listens on every free serial port with\n"
    "                         both line settings, sending nothing (--ask: also asks the\n"
    "                         silent ones through the driver); --tcp: how the scale at\n"
    "                         each address answers, and no serial port\n"
    "  weight CHANNEL [--unit 0..4] [--allow-unstable] [--watch [--interval MS] [--count N]] [--trace]\n"
    "                         open the scale and read its weight (--watch: every MS\n"
    "                         milliseconds, 1000 unless given, N times or until Ctrl+C)\n"
    "  test CHANNEL [--unit 0..4] [--allow-unstable] [--trace]\n"
    "                         the driver's device test report\n"
    "CHANNEL: --tcp HOST:PORT (port 1..65535) | --com N (1..256) [--attrs 0|1]\n"
    "units: 0 as on the scale, 1 mg, 2 g, 3 kg, 4 t\n"
    "--attrs: 0 for 8 data bits, no parity; 1 for 7 data bits, even parity\n"
    "--trace: the dialogue with the scale on stderr, one event a line (the library\n"
    "         writes the same to the file named by PESOLAN_TRACE)\n"
    "--lang: pesolan's own words (causes, next steps, find, ports, --watch) in Russian\n"
    "        or English; by default the user's (Windows: its display language; else\n"
    "        LC_ALL, LC_MESSAGES or LANG)\n"
    "an option's value also goes after '=': --tcp=HOST:PORT, --interval=500\n"
    "exit status: 0 success (find: a scale was found), 1 the device failed (find:\n"
    "             none found; weight --watch: the last reading failed) or the output\n"
    "             could not be written, 2 usage, 3 the library did not load,\n"
    "             130 interrupted (Ctrl+C); a hang-up (SIGHUP), SIGTERM or a closed\n"
    "             output pipe (SIGPIPE) ends it as the signal does (129, 143, 141\n"
    "             in a shell)\n";

namespace {

constexpr int kMaxIntervalMs = 86400000;  // a day
constexpr int kMaxCount = 1000000000;

// A whole decimal number within lo..hi; no sign games, no wrapping.
bool ParseNumber(const std::string& text, long lo, long hi, int* out) {
  if (text.empty() || text.size() > 12) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || v < lo || v > hi || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')))
    return false;
  *out = static_cast<int>(v);
  return true;
}

std::string Range(const std::string& option, long lo, long hi) {
  return option + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
}

// ASCII letters, digits, dots and dashes: a host name or an IPv4 address.
// Anything else ("[::1]", "host:port:5", a space) would go to the name
// service as it stands, and a query for it may leave the machine.
bool HostText(const std::string& text) {
  for (const char c : text) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9') && c != '.' && c != '-') return false;
  }
  return true;
}

// Printable ASCII: safe to show.
bool Printable(const std::string& text) {
  for (const unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

std::string ParseTcp(const std::string& target, TcpTarget* t) {
  const std::string plainOnly = "--tcp takes a host in plain ASCII letters, digits, dots and dashes";
  if (!Printable(target)) return plainOnly;
  const size_t colon = target.rfind(':');
  if (colon == std::string::npos || colon == 0) return "--tcp needs HOST:PORT, not '" + target + "'";
  if (!HostText(target.substr(0, colon))) return plainOnly + ", not '" + target + "'";
  if (!ParseNumber(target.substr(colon + 1), 1, 65535, &t->port))
    return "--tcp '" + target + "': the port must be a whole number from 1 to 65535";
  t->host = target.substr(0, colon);
  uint8_t address[4];
  if (os::ReadHostText(t->host.c_str(), address) == os::HostText::NotAnAddress)
    return "--tcp '" + target + "': " + t->host + " is no IPv4 address: four numbers from 0 to 255, such as 192.168.1.10";
  return "";
}

bool Known(const std::string& command) {
  for (const char* known : {"describe", "settings", "actions", "ports", "find", "weight", "test"}) {
    if (command == known) return true;
  }
  return false;
}

// What the options say against each other or against the command.
std::string Conflicts(const Options& o, bool intervalGiven, bool attrsGiven, bool unitGiven) {
  const bool reads = o.command == "weight" || o.command == "test";
  if ((unitGiven || o.allowUnstable) && !reads)
    return std::string(unitGiven ? "--unit" : "--allow-unstable") + " applies to weight and test";
  if (o.trace && !reads && o.command != "find") return "--trace applies to weight, test and find";
  if (reads && o.tcp.size() > 1) return "weight and test read one scale: give --tcp once";
  if (o.com != 0 && o.tcpChannel()) return "choose one channel: --com N or --tcp HOST:PORT, not both";
  if (reads && o.com == 0 && !o.tcpChannel()) return "choose a channel: --tcp HOST:PORT or --com N";
  if (!reads && o.com != 0) return "--com applies to weight and test";
  if (!reads && o.command != "find" && o.tcpChannel()) return "--tcp applies to weight, test and find";
  if (attrsGiven && o.com == 0) return "--attrs applies to a serial channel (--com N)";
  if ((o.count != 0 || intervalGiven) && !o.watch) return "--count and --interval apply with --watch";
  if (o.watch && o.command != "weight") return "--watch applies to weight";
  if (o.all && o.command != "ports") return "--all applies to ports";
  if (o.ask && o.command != "find") return "--ask applies to find";
  if (o.ask && o.tcpChannel()) return "--ask asks serial ports, and find --tcp looks at the addresses alone";
  return "";
}

}  // namespace

namespace {

bool TakesValue(const std::string& option) {
  for (const char* name : {"--lib", "--locale", "--lang", "--tcp", "--com", "--attrs", "--unit", "--interval", "--count"}) {
    if (option == name) return true;
  }
  return false;
}

// The arguments with each "--option=value" as two; a name it splits that
// takes no value is said.
std::string Split(int argc, char** argv, std::vector<std::string>* args) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const size_t equals = a.find('=');
    if (a.compare(0, 2, "--") != 0 || equals == std::string::npos) {
      args->push_back(a);
      continue;
    }
    const std::string name = a.substr(0, equals);
    if (!TakesValue(name)) return name + " takes no value";
    args->push_back(name);
    args->push_back(a.substr(equals + 1));
  }
  return "";
}

}  // namespace

std::string ParseArgs(int argc, char** argv, Options* o) {
  std::vector<std::string> args;
  const std::string unsplit = Split(argc, argv, &args);
  // Help wins wherever it stands, whatever else is there.
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") o->help = true;
    if (a == "--json") o->json = true;
  }
  if (o->help) return "";
  if (!unsplit.empty()) return unsplit;
  bool intervalGiven = false, attrsGiven = false, unitGiven = false;
  std::vector<std::string> given;
  const size_t count = args.size();
  for (size_t i = 0; i < count; ++i) {
    const std::string a = args[i];
    const bool hasValue = i + 1 < count;
    const bool single = a != "--tcp" && a.compare(0, 2, "--") == 0;
    if (single && std::find(given.begin(), given.end(), a) != given.end()) return a + " is given twice";
    if (single) given.push_back(a);
    auto value = [&]() { return args[++i]; };
    auto number = [&](long lo, long hi, int* out) { return ParseNumber(value(), lo, hi, out); };
    if (a == "--json") o->json = true;
    else if (a == "--help" || a == "-h") o->help = true;
    else if (a == "--version") o->version = true;
    else if (a == "--trace") o->trace = true;
    else if (a == "--all") o->all = true;
    else if (a == "--ask") o->ask = true;
    else if (a == "--allow-unstable") o->allowUnstable = true;
    else if (a == "--watch") o->watch = true;
    else if (TakesValue(a)) {
      if (!hasValue) return a + " needs a value";
      if (a == "--lib") o->lib = value();
      else if (a == "--locale") o->locale = value();
      else if (a == "--lang") {
        o->lang = value();
        if (o->lang != "ru" && o->lang != "en") return "--lang is ru or en";
      } else if (a == "--tcp") {
        o->tcp.emplace_back();
        const std::string wrong = ParseTcp(value(), &o->tcp.back());
        if (!wrong.empty()) return wrong;
      } else if (a == "--com") { if (!number(1, 256, &o->com)) return Range(a, 1, 256); }
      else if (a == "--attrs") { attrsGiven = true; if (!number(0, 1, &o->attrs)) return Range(a, 0, 1); }
      else if (a == "--unit") { unitGiven = true; if (!number(0, 4, &o->unit)) return Range(a, 0, 4); }
      else if (a == "--interval") { intervalGiven = true; if (!number(1, kMaxIntervalMs, &o->intervalMs)) return Range(a, 1, kMaxIntervalMs); }
      else if (!number(1, kMaxCount, &o->count)) return Range(a, 1, kMaxCount);
    } else if (a == "help" && o->command.empty()) {
      o->help = true;
    } else if (a[0] != '-' && o->command.empty()) {
      o->command = a;
      if (!Known(a)) return "unknown command '" + a + "'";
    } else if (a[0] == '-') {
      return "unknown option '" + a + "'";
    } else {
      return "unexpected argument '" + a + "' after the command '" + o->command + "'";
    }
  }
  // No command, as "pesolan" alone, asks for the usage too.
  if (o->command.empty() && !o->version) o->help = true;
  if (o->help || o->version) return "";
  return Conflicts(*o, intervalGiven, attrsGiven, unitGiven);
}

}  // namespace host
