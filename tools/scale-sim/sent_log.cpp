#include "sent_log.h"

#include <chrono>

namespace sim {

SentLog::SentLog(const std::string& path) {
  if (!path.empty()) file_ = std::fopen(path.c_str(), "a");
}

SentLog::~SentLog() {
  if (file_ != nullptr) std::fclose(file_);
}

long long SentLog::Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SentLog::Record(const LineOut& line, long long ended) {
  std::fprintf(file_, "%lld %lld %s\n", line.began, ended, line.text.c_str());
}

void SentLog::Wrote(LineOut& line, const char* bytes, size_t count, long long began) {
  if (file_ == nullptr) return;
  std::string last;
  for (size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (line.text.empty()) line.began = began;
    if (c == '\n' && !line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      if (line.text != last) Record(line, began);
      last = line.text;
      line.text.clear();
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\r') {
      line.text.clear();  // ACK, NAK: not part of a line
    } else if (line.text.size() < 256) {
      line.text += c;
    }
  }
  std::fflush(file_);
}

void SentLog::Abandoned(LineOut& line) {
  if (file_ != nullptr && !line.text.empty()) {
    Record(line, Now());
    std::fflush(file_);
  }
  line.text.clear();
}

void SentLog::Note(const std::string& what) {
  if (file_ == nullptr) return;
  const long long now = Now();
  std::fprintf(file_, "%lld %lld # %s\n", now, now, what.c_str());
  std::fflush(file_);
}

}  // namespace sim
