#include "scale.h"

#include <cstdio>

namespace sim {
namespace {
constexpr uint8_t ENQ = 0x05, ACK = 0x06, DC1 = 0x11, NAK = 0x15;
}

std::string WeightLine(const std::string& weight, const std::string& unit, bool stable) {
  char line[64];
  // Eight places for the number and two for the unit, as the scale's display.
  std::snprintf(line, sizeof line, "%s,GS,%8s%-2s", stable ? "ST" : "US", weight.c_str(), unit.c_str());
  return line;
}

std::string WeightProblem(const std::string& w) {
  const bool minus = !w.empty() && w[0] == '-';
  const std::string digits = w.substr(minus ? 1 : 0);
  if (digits.empty() || digits[0] < '0' || digits[0] > '9' ||
      digits.find_first_not_of("0123456789.") != std::string::npos || digits.find('.') != digits.rfind('.')) {
    return "weight '" + w + "' is no number the scale shows (a digit first, one point at most)";
  }
  if (w.size() > (minus ? 8u : 7u)) {
    return "weight '" + w + "' does not fit the line's eight places with a space before it";
  }
  return "";
}

std::string Scale::NextLine() {
  const int n = linesMade_++;
  if (!options_.lines.empty()) return options_.lines[static_cast<size_t>(n) % options_.lines.size()];
  if (junkLeft_ > 0) {
    --junkLeft_;
    return "?? NO WEIGHT 12 lb";
  }
  const bool stable = unstableLeft_ <= 0;
  if (!stable) --unstableLeft_;
  return WeightLine(options_.weight, options_.unit, stable);
}

std::string Scale::NextStreamLine() { return NextLine() + "\r\n"; }

std::string Scale::Answer(const uint8_t* bytes, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    const bool pair = bytes[i] == ENQ && i + 1 < count && bytes[i + 1] == DC1;
    if (pair || bytes[i] == DC1) {
      std::string reply = NextStreamLine();
      if (options_.replyBytes > 0 && reply.size() > static_cast<size_t>(options_.replyBytes))
        reply.resize(static_cast<size_t>(options_.replyBytes));
      out += reply;
      if (pair) ++i;
    } else if (bytes[i] == ENQ) {
      if (options_.enqReply == EnqReply::Ack) out += static_cast<char>(ACK);
      if (options_.enqReply == EnqReply::Nak) out += static_cast<char>(NAK);
    }
  }
  return out;
}

}  // namespace sim
