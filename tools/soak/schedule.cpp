#include "schedule.h"

#include <random>
#include <string>
#include <thread>

namespace soak {
namespace {

// An event, and the command that undoes it some time later (none: "").
struct Event {
  std::string command;
  std::string undo;
  int undoAfterMs;
};

Event Pick(std::mt19937_64& random, const Scale& scale) {
  static const char* const kUnits[] = {"g", "kg", "t"};
  const unsigned roll = static_cast<unsigned>(random() % 100);
  const bool tcp = scale.com == 0;
  if (roll < 40) return {"weight " + ScheduledWeight(random()), "", 0};
  if (roll < 50) return {"unstable " + std::to_string(1 + random() % 6), "", 0};
  if (roll < 57) return {"unit " + std::string(kUnits[random() % 3]), "", 0};
  if (roll < 67) return {random() % 2 == 0 ? "mode request" : "mode stream", "", 0};
  if (roll < 72) return {"drip " + std::to_string(20 + random() % 50), "drip 0", 1500};
  if (roll < 77) return {"burst " + std::to_string(2 + random() % 8), "", 0};
  if (roll < 82) return {"junk " + std::to_string(1 + random() % 5), "", 0};
  if (roll < 87) return {"mode silent", random() % 2 == 0 ? "mode stream" : "mode request", 1000};
  if (roll < 91 && tcp) return {"disconnect", "", 0};
  if (roll < 94 && tcp) return {"reset", "", 0};
  if (roll < 97 && tcp) return {"flood 300", "", 0};
  return {"interval " + std::to_string(10 + random() % 90), "interval 30", 2000};
}

struct Pending {
  size_t scale;
  std::string command;
  Clock::time_point due;
};

}  // namespace

// Seven characters at most, so that the scale's eight places keep a space
// before the number (a minus does as well).
std::string ScheduledWeight(uint64_t roll) {
  const uint64_t whole = roll % 100000, fraction = (roll / 100000) % 1000;
  const std::string three = "." + std::to_string(1000 + fraction).substr(1);
  switch ((roll / 100000000) % 4) {
    case 0: return std::to_string(whole);                                           // 15000
    case 1: return std::to_string(whole % 10000) + three.substr(0, 2);             // 9999.9
    case 2: return std::to_string(whole % 1000) + three;                           // 999.999
    default: return "-" + std::to_string(whole % 10000) + three.substr(0, 3);      // -9999.99
  }
}

long RunSchedule(std::vector<Scale>& scales, uint64_t seed, const std::atomic<bool>& stop) {
  std::mt19937_64 random(seed);
  std::vector<Pending> pending;
  long sent = 0;
  while (!stop.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 120));
    const auto now = Clock::now();
    for (size_t i = 0; i < pending.size();) {
      if (pending[i].due <= now) {
        scales[pending[i].scale].sim->Command(pending[i].command);
        pending.erase(pending.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
    const size_t s = random() % scales.size();
    const Event e = Pick(random, scales[s]);
    if (scales[s].sim->Command(e.command)) ++sent;
    if (!e.undo.empty()) pending.push_back({s, e.undo, now + std::chrono::milliseconds(e.undoAfterMs)});
  }
  for (const Pending& p : pending) scales[p.scale].sim->Command(p.command);
  return sent;
}

}  // namespace soak
