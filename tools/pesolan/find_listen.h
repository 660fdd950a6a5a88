#pragma once
// pesolan find's listening on one serial port: each line setting in turn,
// sending nothing, through the platform layer's port functions.

#include <string>

#include "find_decide.h"
#include "platform/os.h"

namespace host {

constexpr unsigned kListenMs = 1500;  // per line setting

// The driver's line setting for --attrs 0 (9600 8N1) or 1 (9600 7E1).
const os::LineSettings& LineSettingsOf(int attrs);

// What is heard, as it comes: the bytes, and when each weight line ended.
class Hearing {
 public:
  explicit Hearing(size_t mostBytes) : most_(mostBytes) {}
  // An arrival, atMs after the listening began.
  void Add(const uint8_t* bytes, int count, unsigned atMs);
  bool Full() const { return heard_.bytes.size() >= most_; }
  int Lines() const { return counted_; }
  Heard Done(unsigned listenedMs) {
    heard_.listenedMs = listenedMs;
    return heard_;
  }

 private:
  size_t most_;
  int counted_ = 0;
  Heard heard_;
};

// Listens to an open port, set as it is, for up to ms or until enough
// weight lines came.
Heard ListenSerial(os::SerialPort port, unsigned ms, int enoughLines);

struct Listened {
  std::string openError;  // the port did not open, and why
  Heard heard[2];         // with --attrs 0 and 1
  Verdict verdict;
};

Listened ListenToPort(int com);

}  // namespace host
