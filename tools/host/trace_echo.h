#pragma once
// --trace: the library traces into a file of our own (PESOLAN_TRACE), and
// each new line is echoed to stderr without its date and time.

#include <string>

namespace host {

// Removes the trace file of the TraceEcho that lives, if any; safe to call
// from a signal handler.
void RemoveTraceFileNow();

class TraceEcho {
 public:
  // Creates the file and points PESOLAN_TRACE at it.
  TraceEcho();
  // Removes the file.
  ~TraceEcho();
  TraceEcho(const TraceEcho&) = delete;
  TraceEcho& operator=(const TraceEcho&) = delete;

  bool ok() const { return !path_.empty(); }
  // Writes the lines the library has added since the last call to stderr.
  void Echo();

 private:
  std::string path_;
  long offset_ = 0;
};

}  // namespace host
