#pragma once
// pesolan find's judgement of what a serial port said, listened to with
// each of the driver's two line settings. Plain functions of the bytes
// heard, so that a simulated line can try them.

#include <string>

namespace host {

// What one line setting heard.
struct Heard {
  bool refused = false;   // the port would not take the setting
  std::string bytes;      // everything received, in order
};

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

enum class PortFinding { Silent, Refused, Unknown, Stream };

struct Verdict {
  PortFinding finding = PortFinding::Silent;
  int attrs = 0;          // the setting that gave the finding
  WeightLine line;        // Stream: the last weight line
  long bytes = 0;         // Unknown: how many bytes came
  std::string sample;     // Unknown: the first of them in hex
};

// heard[0] with --attrs 0 (9600 8N1), heard[1] with --attrs 1 (9600 7E1).
// The setting that gives clean weight lines wins (8N1 when both do: a 7E1
// scale read as 8N1 shows its parity as the top bit of its bytes, so only an
// 8N1 scale reads clean both ways); else bytes that are no weight lines;
// else the port refused both settings, or is silent.
Verdict Decide(const Heard heard[2]);

}  // namespace host
