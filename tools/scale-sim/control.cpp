#include "control.h"

#include <cstdlib>
#include <sstream>

#include "pack.h"
#include "scale.h"

namespace sim {
namespace {

struct Word {
  const char* name;
  Command::Kind kind;
  long lowest, highest;  // a whole number within these, unless both are 0
  const char* values;    // else one of these words, unless null (nothing)
};

constexpr Word kWords[] = {
    {"weight", Command::Weight, 0, 0, ""},
    {"unit", Command::Unit, 0, 0, "kg g t"},
    {"unstable", Command::Unstable, 0, 1000000000, nullptr},
    {"junk", Command::Junk, 0, 1000000000, nullptr},
    {"mode", Command::Mode, 0, 0, "stream request silent"},
    {"drip", Command::Drip, 0, 60000, nullptr},
    {"interval", Command::Interval, 1, 60000, nullptr},
    {"burst", Command::Burst, 1, 100, nullptr},
    {"flood", Command::Flood, 0, 600000, nullptr},
    {"unread", Command::Unread, 0, 0, "wait queue drop"},
    {"pack", Command::Pack, 0, 0, ""},
    {"disconnect", Command::Disconnect, 0, 0, nullptr},
    {"reset", Command::Reset, 0, 0, nullptr},
    {"off", Command::Off, 0, 0, nullptr},
    {"on", Command::On, 0, 0, nullptr},
};

// "weight, unit, ...": every command, for one that names none of them.
std::string AllNames() {
  std::string names;
  for (const Word& w : kWords) names += std::string(names.empty() ? "" : ", ") + w.name;
  return names;
}

bool OneOf(const std::string& value, const char* values) {
  std::istringstream words(values);
  for (std::string w; words >> w;) {
    if (w == value) return true;
  }
  return false;
}

// Empty, or why value does not suit the word.
std::string Check(const Word& w, const std::string& value, long* number) {
  const std::string name = w.name;
  if (w.highest > 0) {
    char* end = nullptr;
    *number = std::strtol(value.c_str(), &end, 10);
    const bool whole = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
    if (whole && value.size() <= 10 && *end == '\0' && *number >= w.lowest && *number <= w.highest) return "";
    return name + " needs a whole number from " + std::to_string(w.lowest) + " to " + std::to_string(w.highest);
  }
  if (w.kind == Command::Weight) return WeightProblem(value);
  if (w.kind == Command::Pack) {
    PackRule rule;
    return value == "off" ? "" : ParsePack(value, &rule);
  }
  if (w.values == nullptr) return value.empty() ? "" : name + " takes nothing after it";
  return OneOf(value, w.values) ? "" : name + " is one of: " + w.values;
}

}  // namespace

Command ParseCommand(const std::string& line) {
  std::istringstream words(line);
  std::string name, value, more;
  words >> name >> value >> more;
  Command c;
  for (const Word& w : kWords) {
    if (name != w.name) continue;
    c.why = more.empty() ? Check(w, value, &c.number) : "one value at most";
    if (c.why.empty()) {
      c.kind = w.kind;
      c.text = value;
    }
    return c;
  }
  c.why = (name.empty() ? "an empty command" : "no such command: '" + name + "'") + "; the commands are " + AllNames();
  return c;
}

}  // namespace sim
