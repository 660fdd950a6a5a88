#include "pack.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace sim {
namespace {

constexpr long kMost = 60000;       // milliseconds, lines
constexpr size_t kMostBytes = 65536;
constexpr auto kForceTransmit = std::chrono::milliseconds(250);

bool Whole(const std::string& text, long lowest, long highest, long* value) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::strtol(text.c_str(), nullptr, 10);
  return *value >= lowest && *value <= highest;
}

int Delimiter(const std::string& text) {
  if (text == "cr") return '\r';
  if (text == "lf") return '\n';
  if (text.size() == 2 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 16));
  return -1;
}

}  // namespace

std::string ParsePack(const std::string& text, PackRule* rule) {
  *rule = PackRule{};
  std::istringstream parts(text);
  for (std::string part; std::getline(parts, part, ',');) {
    const size_t colon = part.find(':');
    const std::string name = part.substr(0, colon), value = colon == std::string::npos ? "" : part.substr(colon + 1);
    long n = 0;
    if (name == "gap" && Whole(value, 1, kMost, &n)) {
      rule->gapUs = n * 1000;
    } else if (name == "timer" && Whole(value, 1, kMost, &n)) {
      rule->timerUs = n * 1000;
    } else if (name == "bytes" && Whole(value, 1, static_cast<long>(kMostBytes), &n)) {
      rule->bytes = static_cast<size_t>(n);
    } else if (name == "lines" && Whole(value, 1, kMost, &n)) {
      rule->lines = static_cast<int>(n);
    } else if (name == "delim" && Delimiter(value) >= 0) {
      rule->delim = Delimiter(value);
    } else {
      return "--pack takes gap:MS, bytes:N, lines:N, delim:cr|lf|HEX and timer:MS, comma-separated ('" + part +
             "' is none of them)";
    }
  }
  return rule->on() ? "" : "--pack needs at least one of gap:MS, bytes:N, lines:N, delim:X, timer:MS";
}

void Packer::Close(std::vector<std::string>* ready) {
  if (held_.empty()) return;
  ready->push_back(held_);
  Clear();
}

void Packer::Take(const char* bytes, size_t count, Clock::time_point now, std::vector<std::string>* ready) {
  for (size_t i = 0; i < count; ++i) {
    if (held_.empty()) first_ = now;
    held_ += bytes[i];
    if (bytes[i] == '\n') ++lines_;
    if ((rule_.bytes > 0 && held_.size() >= rule_.bytes) || (rule_.lines > 0 && lines_ >= rule_.lines) ||
        (rule_.delim >= 0 && static_cast<unsigned char>(bytes[i]) == rule_.delim)) {
      Close(ready);
    }
  }
  if (count > 0) last_ = now;
}

Clock::time_point Packer::Due() const {
  if (held_.empty()) return Clock::time_point::max();
  Clock::time_point due = first_ + kForceTransmit;
  if (rule_.gapUs > 0) due = std::min(due, last_ + std::chrono::microseconds(rule_.gapUs));
  if (rule_.timerUs > 0) due = std::min(due, first_ + std::chrono::microseconds(rule_.timerUs));
  return due;
}

void Packer::Tick(Clock::time_point now, std::vector<std::string>* ready) {
  if (now >= Due()) Close(ready);
}

}  // namespace sim
