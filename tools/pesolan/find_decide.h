#pragma once
// pesolan find's judgement of what a serial port said, listened to with
// each of the driver's two line settings. Plain functions of the bytes
// heard, so that a simulated line can try them.

#include <string>
#include <vector>

namespace host {

// What one line setting heard.
struct Heard {
  bool refused = false;   // the port would not take the setting
  std::string bytes;      // everything received, in order
  std::vector<unsigned> lineEndsMs;  // when each weight line's end came, from the start
  unsigned listenedMs = 0;            // how long it listened
};

// How often a streaming scale sends its lines, as heard.
struct LinePace {
  int lines = 0;        // weight lines heard
  unsigned ms = 0;      // the usual time between their ends; 0 when unknown
  bool atLeast = false; // one line only: ms is the least the time between can be
};

// The median time between the line ends heard; with one line, the longer of
// the quiet before and after it.
LinePace PaceOf(const std::vector<unsigned>& lineEndsMs, unsigned listenedMs);

// The longest time between lines that a stream reading of the driver waits
// for: 256 ms on TCP, 304 ms on a serial port.
unsigned StreamLimitMs(bool tcp);
// A scale whose lines come further apart than that is never read as a stream.
bool TooSlow(const LinePace& p, bool tcp);

// One clean weight line: "ST,GS,  12.345kg".
struct WeightLine {
  bool stable = true;
  std::string number;  // "12.345", "-0.5"
  std::string unit;    // "kg", "g", "t"; empty when the line names none
};

// The weight lines among bytes: CR LF-ended lines of printable 7-bit text
// that begin "ST," or "US," and carry a number. Returns how many there are
// and the last one in *last.
int CountWeightLines(const std::string& bytes, WeightLine* last);

enum class PortFinding { Silent, Refused, Unknown, Stream, TooSlow };

struct Verdict {
  PortFinding finding = PortFinding::Silent;
  int attrs = 0;          // the setting that gave the finding
  WeightLine line;        // Stream, TooSlow: the last weight line
  LinePace pace;          // Stream, TooSlow: how often its lines came
  long bytes = 0;         // Unknown: how many bytes came
  std::string sample;     // Unknown: the first of them in hex
};

// heard[0] with --attrs 0 (9600 8N1), heard[1] with --attrs 1 (9600 7E1).
// The setting that gives clean weight lines wins (8N1 when both do: a 7E1
// scale read as 8N1 shows its parity as the top bit of its bytes, so only an
// 8N1 scale reads clean both ways); else bytes that are no weight lines;
// else the port refused both settings, or is silent. Clean lines that come
// further apart than the driver's stream reading waits are TooSlow.
Verdict Decide(const Heard heard[2]);

}  // namespace host
