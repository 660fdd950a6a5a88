#include "find_decide.h"

#include <algorithm>
#include <cstdio>

namespace host {
namespace {

bool Printable(const std::string& line) {
  for (const unsigned char c : line) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool ReadWeightLine(const std::string& line, WeightLine* w) {
  if (line.size() < 7 || !Printable(line) || (line.compare(0, 3, "ST,") != 0 && line.compare(0, 3, "US,") != 0))
    return false;
  const size_t begin = line.find_first_of("-0123456789", 3);
  if (begin == std::string::npos) return false;
  size_t end = line.find_first_not_of("-0123456789. ", begin);
  if (end == std::string::npos) end = line.size();
  std::string number = line.substr(begin, end - begin);
  number.erase(number.find_last_not_of(' ') + 1);
  std::string unit = line.substr(end);
  unit.erase(0, unit.find_first_not_of(' '));
  unit.erase(unit.find_last_not_of(' ') + 1);
  if (number.find_first_of("0123456789") == std::string::npos) return false;
  w->stable = line[0] == 'S';
  w->number = number;
  w->unit = unit;
  return true;
}

std::string Hex(const std::string& bytes, size_t count) {
  std::string out;
  for (size_t i = 0; i < bytes.size() && i < count; ++i) {
    char two[4];
    std::snprintf(two, sizeof two, "%s%02X", i == 0 ? "" : " ", static_cast<unsigned char>(bytes[i]));
    out += two;
  }
  return out;
}

}  // namespace

int CountWeightLines(const std::string& bytes, WeightLine* last) {
  int count = 0;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    WeightLine w;
    // The first line may have begun before the listening did.
    if (ReadWeightLine(bytes.substr(start, end - start), &w)) {
      ++count;
      *last = w;
    }
  }
  return count;
}

LinePace PaceOf(const std::vector<unsigned>& lineEndsMs, unsigned listenedMs) {
  LinePace p;
  p.lines = static_cast<int>(lineEndsMs.size());
  if (p.lines == 1) {
    const unsigned at = lineEndsMs[0];
    p.ms = std::max(at, listenedMs > at ? listenedMs - at : 0u);
    p.atLeast = true;
  } else if (p.lines > 1) {
    std::vector<unsigned> gaps;
    for (size_t i = 1; i < lineEndsMs.size(); ++i) gaps.push_back(lineEndsMs[i] - lineEndsMs[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    p.ms = gaps[gaps.size() / 2];
  }
  return p;
}

unsigned StreamLimitMs(bool tcp) { return tcp ? 256 : 304; }

bool TooSlow(const LinePace& p, bool tcp) { return p.lines > 0 && p.ms > StreamLimitMs(tcp); }

Verdict Decide(const Heard heard[2]) {
  Verdict v;
  WeightLine lines[2];
  const int counts[2] = {CountWeightLines(heard[0].bytes, &lines[0]), CountWeightLines(heard[1].bytes, &lines[1])};
  if (counts[0] > 0 || counts[1] > 0) {
    v.finding = PortFinding::Stream;
    v.attrs = counts[0] > 0 ? 0 : 1;
    v.line = lines[v.attrs];
    v.pace = PaceOf(heard[v.attrs].lineEndsMs, heard[v.attrs].listenedMs);
    if (TooSlow(v.pace, false)) v.finding = PortFinding::TooSlow;
    return v;
  }
  if (!heard[0].bytes.empty() || !heard[1].bytes.empty()) {
    v.finding = PortFinding::Unknown;
    v.attrs = heard[0].bytes.size() >= heard[1].bytes.size() ? 0 : 1;
    v.bytes = static_cast<long>(heard[v.attrs].bytes.size());
    v.sample = Hex(heard[v.attrs].bytes, 16);
    return v;
  }
  v.finding = heard[0].refused && heard[1].refused ? PortFinding::Refused : PortFinding::Silent;
  return v;
}

}  // namespace host
