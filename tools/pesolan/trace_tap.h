#pragma once
// The library traces each dialogue into the file that PESOLAN_TRACE names.
// pesolan reads that trace as it grows: to say why a reading failed and in
// which unit a weight came, and, with --trace, to echo it to stderr.

#include <string>
#include <vector>

namespace host {

// Removes the trace file of the TraceTap that lives, if any; safe to call
// from a signal handler.
void RemoveTraceFileNow();

class TraceTap {
 public:
  // Follows the file that PESOLAN_TRACE already names (from its present
  // end, and only while it is a regular file); when it names none, or one
  // the library could not write (a link, a missing folder; said on
  // stderr), makes a file of its own and points PESOLAN_TRACE at it.
  // echo: --trace.
  explicit TraceTap(bool echo);
  // Removes a file of its own.
  ~TraceTap();
  TraceTap(const TraceTap&) = delete;
  TraceTap& operator=(const TraceTap&) = delete;

  // Notes where the file ends, without opening it: call it before and
  // after each driver call. With --trace, what the call added is echoed to
  // stderr at once.
  void Mark();
  // The lines of the last call that traced anything, without their date
  // and time ("127.0.0.1:4000 +200 ms sent 05 ENQ"). The file is opened
  // only now, when something needs them.
  std::vector<std::string> LastCall();

 private:
  long Size() const;  // -1: no regular file there
  std::vector<std::string> Read(long from, long to) const;

  std::string path_;
  bool own_ = false;
  bool echo_ = false;
  long mark_ = -1;
  long callFrom_ = 0, callTo_ = 0;  // the last call's lines
};

}  // namespace host
