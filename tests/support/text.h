#pragma once
// Small helpers shared by the tests.

#include <chrono>
#include <string>

namespace testing_support {

// The driver's messages are Windows-1251; tests compare them as UTF-8.
std::string Cp1251ToUtf8(const std::string& text);

// Waits are measured in whole milliseconds of the system tick, so each can
// end up to a millisecond early in real time: lower bounds allow for that.
constexpr long kTickSlack = 5;

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  long ms() const {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start_).count());
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

// Sets the C locale for a scope (the decimal separator follows it).
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name);
  ~ScopedLocale();
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

constexpr const char* kCommaLocale = "ru_RU.UTF-8";

#if !defined(_WIN32)
// The entries of /proc/self/fd: what a test compares before and after, to
// see that nothing was left open.
int OpenDescriptors();

// The driver's trace (PESOLAN_TRACE) into a file of its own while the
// object lives, so that a test asserts the way a reading took rather than
// telling ways apart by the clock. The variable is the process's: one
// capture at a time, from the test's own thread.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;
  // What the driver has written so far; Clear() starts afresh.
  std::string Text() const;
  void Clear() const;
  bool Has(const std::string& what) const { return Text().find(what) != std::string::npos; }

 private:
  std::string path_;
};
#endif

}  // namespace testing_support
