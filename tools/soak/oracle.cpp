#include "oracle.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace soak {
namespace {

// Power of ten of each unit in grams, by unit code 1..4.
constexpr int kGramExponent[] = {0, -3, 0, 3, 6};

constexpr int kWrittenDecimals = 6;

// Drops the last n digits, rounding to nearest with ties to even.
void RoundAway(std::string& digits, int n) {
  const std::string dropped = digits.substr(digits.size() - static_cast<size_t>(n));
  digits.resize(digits.size() - static_cast<size_t>(n));
  const std::string half = "5" + std::string(static_cast<size_t>(n - 1), '0');
  const bool odd = (digits.back() - '0') % 2 != 0;
  if (dropped < half || (dropped == half && !odd)) return;
  size_t i = digits.size();
  while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
  if (i == 0) {
    digits.insert(0, "1");
  } else {
    ++digits[i - 1];
  }
}

// The unit of the letters after the number, as the driver reads them: by
// the first ("k" of a line cut after it is kilograms).
int UnitOf(const std::string& letters) {
  if (letters.empty()) return 0;
  if (letters[0] == 'g' || letters[0] == 'G') return 2;
  if (letters[0] == 'k' || letters[0] == 'K') return 3;
  if (letters[0] == 't' || letters[0] == 'T') return 4;
  return 0;
}

}  // namespace

bool ReadLine(const std::string& text, Line* line) {
  if (text.size() < 8 || (text.compare(0, 6, "ST,GS,") != 0 && text.compare(0, 6, "US,GS,") != 0)) return false;
  size_t at = text.find_first_not_of(' ', 6);
  const size_t end = text.find_first_not_of("-0123456789.", at);
  if (at == std::string::npos || end == std::string::npos || end == at) return false;
  const std::string unit = text.substr(end, text.find(' ', end) - end);
  if (UnitOf(unit) == 0) return false;
  line->stable = text[0] == 'S';
  line->number = text.substr(at, end - at);
  line->unit = UnitOf(unit);
  return true;
}

double Expected(const Line& line, int requested) {
  const bool negative = line.number[0] == '-';
  std::string digits;
  int decimals = -1;  // -1: no point
  for (const char c : line.number) {
    if (c == '.') {
      decimals = 0;
    } else if (c >= '0' && c <= '9') {
      digits += c;
      if (decimals >= 0) ++decimals;
    }
  }
  const bool point = decimals >= 0;
  const bool converted = requested >= 1 && requested <= 4;
  const int shift = converted ? kGramExponent[line.unit] - kGramExponent[requested] : 0;
  // digits stand for the value times 10^-scale.
  int scale = (point ? decimals : 0) - shift;
  if (scale < 0) {
    digits.append(static_cast<size_t>(-scale), '0');
    scale = 0;
  }
  int keep = 3;
  if (!converted && point) keep = decimals == 1 || decimals == 2 ? decimals : 3;
  if (!point && !(converted && requested > line.unit)) keep = 0;
  if (digits.size() <= static_cast<size_t>(scale)) digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
  // The weight is written with six decimals before it is cut.
  if (scale > kWrittenDecimals) {
    RoundAway(digits, scale - kWrittenDecimals);
    scale = kWrittenDecimals;
  }
  if (scale > keep) {
    digits.resize(digits.size() - static_cast<size_t>(scale - keep));
    scale = keep;
  }
  const std::string text = (negative ? "-" : "") + digits.substr(0, digits.size() - static_cast<size_t>(scale)) + "." +
                           digits.substr(digits.size() - static_cast<size_t>(scale));
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

bool Justified(double weight, const std::vector<Sent>& sent, int64_t from, int64_t to, int requested,
               bool allowUnstable) {
  const auto first = std::lower_bound(sent.begin(), sent.end(), from - kInFlightNs,
                                      [](const Sent& s, int64_t ns) { return s.ended < ns; });
  for (auto s = first; s != sent.end() && s->ended <= to + kLongestLineNs; ++s) {
    Line line;
    if (s->began > to || s->made < from - kInFlightNs - kPackNs) continue;
    if (!ReadLine(s->text, &line) || !(line.stable || allowUnstable)) continue;
    if (Expected(line, requested) == weight) return true;
  }
  return false;
}

namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kCalmNs = 2000 * kMs, kFloodCalmNs = 10000 * kMs, kBacklogNs = 1000 * kMs;
constexpr long kClosestServedMs = 25, kFurthestServedMs = 200;

bool Starts(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Notes that say nothing changed in how the scale sends.
bool Harmless(const std::string& note) {
  return Starts(note, "# weight ") || Starts(note, "# the peer takes") || note == "# connected" ||
         note == "# disconnected";
}

}  // namespace

bool LiveAndServed(const std::vector<Sent>& sent, int64_t from, int64_t to, bool streamsAtStart, bool allowUnstable) {
  std::string mode = streamsAtStart ? "stream" : "request";
  bool dripping = false;
  long interval = 30;
  int handed = 0;
  for (const Sent& s : sent) {
    if (s.began > to) break;
    if (Starts(s.text, "# ")) {
      if (s.began >= from - kCalmNs && !Harmless(s.text)) return false;
      if (s.began >= from - kFloodCalmNs && Starts(s.text, "# flood ")) return false;
      if (Starts(s.text, "# mode ")) mode = s.text.substr(7);
      if (Starts(s.text, "# interval ")) interval = std::atol(s.text.c_str() + 11);
      if (Starts(s.text, "# drip ")) dripping = s.text != "# drip 0";
      continue;
    }
    if (s.ended < from - kBacklogNs) continue;
    // Lines made long before they were handed over: a backlog was on its
    // way, which a reading may take longer to get past than it lasts.
    if (s.made < s.began - kInFlightNs - kPackNs) return false;
    if (s.ended < from - kInFlightNs) continue;
    Line line;
    if (!ReadLine(s.text, &line) || !(line.stable || allowUnstable)) return false;
    if (s.began >= from && s.ended <= to) ++handed;
  }
  if (dripping || mode == "silent") return false;
  if (mode == "request") return handed >= 1;
  return interval >= kClosestServedMs && interval <= kFurthestServedMs && handed >= 2;
}

}  // namespace soak
