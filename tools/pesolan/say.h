#pragma once
// How pesolan says what it says. With --json, every outcome is one object
// on stdout that opens with the schema's number and "ok"; a failure
// carries its code, message, cause and next step. In text, stdout holds
// only the result, and everything else (errors, causes, notices) goes to
// stderr.

#include <chrono>
#include <string>

#include "cli_options.h"

namespace host {

constexpr int kJsonSchema = 1;

// {"schema":1,"ok":true
std::string JsonOpen(bool ok);
// ,"code":N,"message":...,"cause":...,"next":...
std::string FailureFields(int code, const std::string& message, const std::string& cause, const std::string& next);

// A failure that is not the driver's (code 0): with --json its object on
// stdout, else "pesolan: MESSAGE: CAUSE; NEXT" on stderr. The status.
int Refuse(const Options& o, int status, const std::string& message, const std::string& cause,
           const std::string& next);
// A command line pesolan does not take: status 2.
int UsageError(const Options& o, const std::string& problem);

// When a reading began, and how long it took once it has ended.
struct Moment {
  std::chrono::system_clock::time_point began;
  std::chrono::steady_clock::time_point start;
  long elapsedMs = 0;

  static Moment Now();
  void End();
  // ,"elapsed_ms":N,"time":"2026-12-09T15:21:22.123Z" (UTC)
  std::string Json() const;
  // "15:21:22", the local time, for --watch's lines.
  std::string Clock() const;
};

}  // namespace host
