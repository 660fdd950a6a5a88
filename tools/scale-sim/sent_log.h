#pragma once
// --sent FILE: every line the scale sends, as "FIRST LAST MADE TEXT": the
// moments (CLOCK_MONOTONIC nanoseconds) its first and its last byte were
// handed to the peer, and the moment the scale made it. A line is made
// when it is written, unless something held it on the scale's side: a
// queueing scale makes it when it queues it, and behind --pack it is made
// as it reaches the converter, which hands it over later with its pack.
// So a reading can be judged afterwards against what the scale really said
// and when: a driver may read a line before it is complete, or read it
// complete. The handing moments are taken just before the writes: taken
// after them, the driver could have read the bytes and returned before.

#include <cstddef>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>

namespace sim {

// A moment in LineOut::made for lines that nothing held: each is made when
// it is written.
constexpr long long kMadeWhenWritten = -1;

// A peer's line on its way out, and when the lines held for it were made.
struct LineOut {
  std::string text;
  long long began = 0;  // its first byte's write
  std::deque<std::pair<long long, size_t>> made;  // moment, lines made then
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
  // The lines ended in bytes were made at `at` (kMadeWhenWritten: they are
  // made as they go out), and wait to be handed over.
  void Made(LineOut& line, const char* bytes, size_t count, long long at) const;
  // The lines ended in bytes went out of the scale into a converter at
  // `at`: those made as they go out were made then.
  void Entered(LineOut& line, const char* bytes, size_t count, long long at) const;
  // Bytes just handed to a peer by a write that began at `began`. Each
  // line completed here is recorded, a run of the same line (a burst, a
  // flood, a pack) once, with the newest moment any of them was made.
  void Wrote(LineOut& line, const char* bytes, size_t count, long long began);
  // Bytes that never reached the peer (a wire loses what it does not
  // take): the lines they end are no longer on their way.
  void Lost(LineOut& line, const char* bytes, size_t count) const;
  // A line given up halfway (the scale changed mode, the peer went): its
  // bytes so far, as a line that ends now, for a driver may have read them;
  // lines held and not handed over are forgotten.
  void Abandoned(LineOut& line);
  // What else happened, for the reader of the file: "NOW NOW NOW # WHAT".
  void Note(const std::string& what);

 private:
  void Record(const std::string& text, long long began, long long ended, long long made);
  std::FILE* file_ = nullptr;
};

}  // namespace sim
