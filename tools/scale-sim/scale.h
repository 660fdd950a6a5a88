#pragma once
// What the simulated scale says, independent of how it is connected.

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class Mode { Stream, Request, Silent };
enum class EnqReply { Ack, Nak, None };

struct ScaleOptions {
  Mode mode = Mode::Stream;
  std::string weight = "12.345";   // number text as the scale shows it
  std::string unit = "kg";
  int unstableLines = 0;           // the first lines are unstable
  std::vector<std::string> lines;  // fixed lines instead of weight lines
  EnqReply enqReply = EnqReply::Ack;
  int replyBytes = 0;              // cut request replies to this many bytes
};

// A weight line of the parser's shape: "ST,GS,  12.345kg".
std::string WeightLine(const std::string& weight, const std::string& unit, bool stable);
// Empty when the scale can show weight in its line, else why not. The line
// has eight places for the number, and a number begins only after a space
// or a minus: an optional minus, a digit, digits and one point at most, in
// seven places (eight with the minus).
std::string WeightProblem(const std::string& weight);

class Scale {
 public:
  explicit Scale(const ScaleOptions& options) : options_(options), unstableLeft_(options.unstableLines) {}
  // The number and unit of the lines from now on.
  void Show(const std::string& weight, const std::string& unit) {
    options_.weight = weight;
    options_.unit = unit;
  }
  // The next lines are unstable, or no weight lines at all.
  void MakeUnstable(int lines) { unstableLeft_ = lines; }
  void MakeJunk(int lines) { junkLeft_ = lines; }
  // The next line of the stream, CR LF included.
  std::string NextStreamLine();
  // The answer to bytes received from the driver in one read.
  std::string Answer(const uint8_t* bytes, size_t count);

 private:
  std::string NextLine();
  ScaleOptions options_;
  int linesMade_ = 0;
  int unstableLeft_;
  int junkLeft_ = 0;
};

}  // namespace sim
