#pragma once
// --sent FILE: every line the scale sends, with the moment its last byte
// went out (CLOCK_MONOTONIC nanoseconds), so that a reading can be judged
// afterwards against what the scale really said and when.

#include <cstddef>
#include <cstdio>
#include <string>

namespace sim {

class SentLog {
 public:
  // No file: nothing is recorded.
  explicit SentLog(const std::string& path);
  ~SentLog();
  SentLog(const SentLog&) = delete;
  SentLog& operator=(const SentLog&) = delete;

  // Bytes just written to a peer; assembling holds that peer's line in
  // progress. Each line completed here is recorded, a run of the same line
  // (a burst, a flood) once, as "NANOSECONDS TEXT".
  void Wrote(std::string& assembling, const char* bytes, size_t count);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace sim
