#pragma once
// pesolan-soak: many sessions using the driver at once, as a site does,
// against scales driven by a seeded schedule of faults; every reading is
// judged afterwards against what the scales really sent.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scale_sim_launcher.h"

namespace soak {

using Clock = std::chrono::steady_clock;

// Nanoseconds of the monotonic clock, the one scale-sim stamps its lines with.
inline int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct Options {
  int seconds = 60;
  uint64_t seed = 1;
  int threads = 8;
  std::string library;
  std::string scaleSim;
  std::string json = "build/soak.json";
  std::string markdown;  // the reliability report, when asked for
  bool checkMemory = true;  // off under sanitizers, whose heaps grow by design
  bool keepSent = false;    // the scales' --sent files stay, for a look at a failure
};

// One device's scale: a scale-sim on loopback TCP or on a pseudo-terminal
// placed as a COM port of the private /dev.
struct Scale {
  std::unique_ptr<scale_sim::SimProcess> sim;
  int com = 0;  // 0: TCP
  std::string sentFile;
  bool streams = true;  // its mode before any command: stream, else request
};

enum class Method { Open, GetWeight, DeviceTest, GetParameters, SetParameter, GetLastError, Close, Destroy, Count };
const char* NameOf(Method m);
// The longest a call may take: the longest path the driver's waits allow,
// plus 1 s.
long BoundMs(Method m);

// One call and what it gave.
struct Call {
  Method method;
  int64_t begin, end;  // Now() around the call
  std::string outcome;  // "true", "false", "false 106", "refused", ...
  // GetWeight: its device's scale, unit and the component's unstable-weight
  // setting at the time; judged when it returned True, with the weight.
  bool judged = false;
  double weight = 0;
  int scale = -1;
  int unit = 0;
  bool allowUnstable = false;
  // A False whose GetLastError code is none the driver defines.
  bool undefinedCode = false;
};

}  // namespace soak
