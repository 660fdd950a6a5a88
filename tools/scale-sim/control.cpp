#include "control.h"

#include <cstdlib>
#include <sstream>

namespace sim {
namespace {

struct Word {
  const char* name;
  Command::Kind kind;
  bool number;  // takes a number, else a word (or nothing)
};

constexpr Word kWords[] = {
    {"weight", Command::Weight, false}, {"unit", Command::Unit, false},       {"unstable", Command::Unstable, true},
    {"junk", Command::Junk, true},      {"mode", Command::Mode, false},       {"drip", Command::Drip, true},
    {"interval", Command::Interval, true}, {"burst", Command::Burst, true},   {"flood", Command::Flood, true},
    {"disconnect", Command::Disconnect, false}, {"reset", Command::Reset, false},
};

}  // namespace

Command ParseCommand(const std::string& line) {
  std::istringstream words(line);
  std::string name, value;
  words >> name >> value;
  Command c;
  for (const Word& w : kWords) {
    if (name != w.name) continue;
    c.kind = w.kind;
    if (w.number) {
      c.number = std::atol(value.c_str());
    } else {
      c.text = value;
    }
  }
  return c;
}

}  // namespace sim
