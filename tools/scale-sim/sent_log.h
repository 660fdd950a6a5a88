#pragma once
// --sent FILE: every line the scale sends, with the moments its first and
// its last byte went out (CLOCK_MONOTONIC nanoseconds), so that a reading
// can be judged afterwards against what the scale really said and when: a
// driver may read a line before it is complete, or read it complete. The
// moments are taken just before the writes that send those bytes: taken
// after them, the driver could have read the bytes and returned before.

#include <cstddef>
#include <cstdio>
#include <string>

namespace sim {

// A peer's line on its way out.
struct LineOut {
  std::string text;
  long long began = 0;  // its first byte's write
};

class SentLog {
 public:
  // No file: nothing is recorded.
  explicit SentLog(const std::string& path);
  ~SentLog();
  SentLog(const SentLog&) = delete;
  SentLog& operator=(const SentLog&) = delete;

  // The moment a write begins.
  static long long Now();
  // Bytes just written to a peer by a write that began at `began`. Each
  // line completed here is recorded as "FIRST LAST TEXT", a run of the same
  // line (a burst, a flood) once.
  void Wrote(LineOut& line, const char* bytes, size_t count, long long began);
  // A line given up halfway (the scale changed mode, the peer went): its
  // bytes so far, as a line that ends now, for a driver may have read them.
  void Abandoned(LineOut& line);
  // What else happened, for the reader of the file: "NOW NOW # WHAT".
  void Note(const std::string& what);

 private:
  void Record(const LineOut& line, long long ended);
  std::FILE* file_ = nullptr;
};

}  // namespace sim
