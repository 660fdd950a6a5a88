#include "cli_options.h"

#include <cstdlib>

namespace host {

const char* const kUsage =
    "usage: pesolan [--lib PATH] [--locale NAME] [--json] COMMAND [OPTIONS]\n"
    "       pesolan --version | --help\n"
    "commands:\n"
    "  describe               the driver's description document\n"
    "  settings               the settings page, with the serial ports found\n"
    "  actions                the additional actions document\n"
    "  ports [--all]          each serial port and what opening it would meet\n"
    "                         (--all: every COM number, absent ones included)\n"
    "  weight CHANNEL [--unit 0..4] [--allow-unstable] [--watch [--interval MS] [--count N]] [--trace]\n"
    "                         open the scale and read its weight\n"
    "  test CHANNEL [--unit 0..4] [--allow-unstable] [--trace]\n"
    "                         the driver's device test report\n"
    "CHANNEL: --tcp HOST:PORT | --com N [--attrs 0|1]\n"
    "units: 0 as on the scale, 1 mg, 2 g, 3 kg, 4 t\n"
    "--trace: the dialogue with the scale on stderr, one event a line (the library\n"
    "         writes the same to the file named by PESOLAN_TRACE)\n"
    "exit status: 0 success, 1 the device failed, 2 usage, 3 the library did not load\n";

namespace {

bool ParseNumber(const char* text, int* out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

std::string ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](int* out) { return next != nullptr && ParseNumber(argv[++i], out); };
    const std::string needsNumber = a + " needs a number";
    if (a == "--json") o->json = true;
    else if (a == "--help" || a == "-h") o->help = true;
    else if (a == "--version") o->version = true;
    else if (a == "--trace") o->trace = true;
    else if (a == "--all") o->all = true;
    else if (a == "--allow-unstable") o->allowUnstable = true;
    else if (a == "--watch") o->watch = true;
    else if (a == "--lib" && next) o->lib = argv[++i];
    else if (a == "--locale" && next) o->locale = argv[++i];
    else if (a == "--tcp" && next) {
      const std::string target = argv[++i];
      const size_t colon = target.rfind(':');
      if (colon == std::string::npos || !ParseNumber(target.c_str() + colon + 1, &o->tcpPort))
        return "--tcp needs HOST:PORT, not '" + target + "'";
      o->tcpHost = target.substr(0, colon);
    } else if (a == "--com") { if (!number(&o->com)) return needsNumber; }
    else if (a == "--attrs") { if (!number(&o->attrs)) return needsNumber; }
    else if (a == "--unit") { if (!number(&o->unit)) return needsNumber; }
    else if (a == "--interval") { if (!number(&o->intervalMs)) return needsNumber; }
    else if (a == "--count") { if (!number(&o->count)) return needsNumber; }
    else if (a[0] != '-' && o->command.empty()) o->command = a;
    else return "unexpected argument '" + a + "'";
  }
  if (o->help || o->version) return "";
  if (o->command.empty()) return "no command";
  for (const char* known : {"describe", "settings", "actions", "ports", "weight", "test"}) {
    if (o->command == known) return "";
  }
  return "unknown command '" + o->command + "'";
}

}  // namespace host
