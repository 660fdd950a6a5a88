#include "schedule.h"

#include <random>
#include <string>
#include <thread>

namespace soak {
namespace {

// A command some time after an event.
struct Later {
  std::string command;
  int afterMs;
};

// An event, and the commands that follow it (to undo it, or to go on).
struct Event {
  std::string command;
  std::vector<Later> later;
};

// A flood fills every buffer on the way while the driver reads none of it;
// then the scale falls silent for a while, or shows a new weight: the lines
// still on their way are a backlog, never a reading.
Event FloodThenChange(std::mt19937_64& random) {
  const int after = 300 + static_cast<int>(random() % 700);
  if (random() % 2 == 0) return {"flood 300", {{"mode silent", after}, {"mode stream", after + 1500}}};
  return {"flood 300", {{"weight " + ScheduledWeight(random()), after}}};
}

// Lines delivered as real installations deliver them: a converter's packs
// of a few lines, by a send timer, a byte count, a CR, or a quiet gap; on a
// serial scale, a virtual COM port's bursts. The driver must read them all.
Event Packed(std::mt19937_64& random) {
  static const char* const kRules[] = {"lines:2", "lines:4",  "timer:50", "timer:100",
                                       "timer:200", "bytes:64", "delim:cr", "gap:2,bytes:128"};
  const int lasting = 3000 + static_cast<int>(random() % 3000);
  return {std::string("pack ") + kRules[random() % (sizeof kRules / sizeof kRules[0])], {{"pack off", lasting}}};
}

Event Pick(std::mt19937_64& random, const Scale& scale) {
  static const char* const kUnits[] = {"g", "kg", "t"};
  const unsigned roll = static_cast<unsigned>(random() % 100);
  const bool tcp = scale.com == 0;
  if (roll < 5) return Packed(random);
  // Slow lines too, as slow as the driver serves.
  if (roll < 8) return {"interval " + std::to_string(100 + random() % 101), {{"interval 30", 3000}}};
  if (roll < 38) return {"weight " + ScheduledWeight(random()), {}};
  if (roll < 48) return {"unstable " + std::to_string(1 + random() % 6), {}};
  if (roll < 55) return {"unit " + std::string(kUnits[random() % 3]), {}};
  if (roll < 65) return {random() % 2 == 0 ? "mode request" : "mode stream", {}};
  if (roll < 70) return {"drip " + std::to_string(20 + random() % 50), {{"drip 0", 1500}}};
  if (roll < 75) return {"burst " + std::to_string(2 + random() % 8), {}};
  if (roll < 80) return {"junk " + std::to_string(1 + random() % 5), {}};
  if (roll < 85) return {"mode silent", {{random() % 2 == 0 ? "mode stream" : "mode request", 1000}}};
  if (roll < 89 && tcp) return {"disconnect", {}};
  if (roll < 92 && tcp) return {"reset", {}};
  if (roll < 95) return FloodThenChange(random);
  // High line rates too: a line every 2 ms fills a reader's buffers fast.
  return {"interval " + std::to_string(random() % 4 == 0 ? 2 + random() % 8 : 10 + random() % 90), {{"interval 30", 2000}}};
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
    for (const Later& l : e.later) pending.push_back({s, l.command, now + std::chrono::milliseconds(l.afterMs)});
  }
  for (const Pending& p : pending) scales[p.scale].sim->Command(p.command);
  return sent;
}

}  // namespace soak
