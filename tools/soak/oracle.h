#pragma once
// The soak's judge: what the driver must return for a line the scale sent,
// worked out in exact decimal arithmetic of its own (not the driver's), and
// whether a reading is one that the scale's lines during the call justify.

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// A weight line as scale-sim sends it: "ST,GS,  12.345kg".
struct Line {
  bool stable = false;
  std::string number;  // "-12.345", "1500", "12."
  int unit = 0;        // 2 gram, 3 kilogram, 4 tonne
};

// False for anything that is no weight line (junk).
bool ReadLine(const std::string& text, Line* line);

// The weight the driver returns for line asked in unit requested (0 as on
// the scale, 1 mg, 2 g, 3 kg, 4 t): converted by powers of ten, written with
// six decimals (rounded there), then cut (not rounded) to the decimals
// returned: up to 3, as many as the scale gave when asked as on the scale
// (1 or 2; else 3), none for a whole number that is not converted into a
// larger unit.
double Expected(const Line& line, int requested);

// A line of a scale-sim's --sent file: when its first and its last byte
// were handed to the peer, when the scale made it, and what (a note of the
// scale's, "# ...", is no line).
struct Sent {
  int64_t began, ended, made;
  std::string text;
};

// Lines whose bytes were still on their way when a call began may still be
// read by it: lines that ended this long before the call count too.
constexpr int64_t kInFlightNs = 100 * 1000000LL;
// A converter hands a line over with its pack, up to a pack after the line
// was made: 256 bytes, 267 ms of a 9600 baud line.
constexpr int64_t kPackNs = 270 * 1000000LL;
// No line takes longer to send than this (22 bytes dripped slowly).
constexpr int64_t kLongestLineNs = 10 * 1000000000LL;

// Whether weight is what a line of the scale gives in unit requested, from
// a stable line unless unstable weights were allowed, where the line was on
// its way during the call: it began to be handed over before `to`, ended
// after from - kInFlightNs (a driver may read a line before its end), and
// was made no earlier than a pack before that. sent is in the order the
// lines ended.
bool Justified(double weight, const std::vector<Sent>& sent, int64_t from, int64_t to, int requested,
               bool allowUnstable);

// Whether a scale was live and served as the driver must serve it during
// the call, so that a failed reading refused it: no command but a new
// weight in the 2 s before the call or during it, no flood in the 10 s
// before, no drip, no line made long before it was handed over in the 1 s
// before the call or during it (a backlog on its way); and it streamed lines no closer than 25 ms and no
// further apart than 200 ms (however packed), at least two of them handed
// over whole during the call, or answered requests and handed a reply over
// during it; every line it then handed over a weight line, stable unless
// unstable weights were allowed. streamsAtStart: its mode before any
// command.
bool LiveAndServed(const std::vector<Sent>& sent, int64_t from, int64_t to, bool streamsAtStart, bool allowUnstable);

}  // namespace soak
