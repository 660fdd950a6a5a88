#pragma once
// --sent FILE: every line the scale sends, with the moment its last byte
// went out (CLOCK_MONOTONIC nanoseconds), so that a reading can be judged
// afterwards against what the scale really said and when. The moment is
// taken just before the write that sends the byte: taken after it, the
// driver could have read the line and returned before it.

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

  // The moment a write begins.
  static long long Now();
  // Bytes just written to a peer by a write that began at `began`;
  // assembling holds that peer's line in progress. Each line completed here
  // is recorded, a run of the same line (a burst, a flood) once, as
  // "NANOSECONDS TEXT".
  void Wrote(std::string& assembling, const char* bytes, size_t count, long long began);
  // What else happened, for the reader of the file: "NANOSECONDS # WHAT".
  void Note(const std::string& what);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace sim
