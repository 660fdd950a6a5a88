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

void SentLog::Wrote(std::string& assembling, const char* bytes, size_t count, long long began) {
  if (file_ == nullptr) return;
  std::string last;
  for (size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (c == '\n' && !assembling.empty() && assembling.back() == '\r') {
      assembling.pop_back();
      if (assembling != last) std::fprintf(file_, "%lld %s\n", began, assembling.c_str());
      last = assembling;
      assembling.clear();
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\r') {
      assembling.clear();  // ACK, NAK: not part of a line
    } else if (assembling.size() < 256) {
      assembling += c;
    }
  }
  std::fflush(file_);
}

void SentLog::Note(const std::string& what) {
  if (file_ == nullptr) return;
  std::fprintf(file_, "%lld # %s\n", Now(), what.c_str());
  std::fflush(file_);
}

}  // namespace sim
