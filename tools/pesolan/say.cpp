#include "say.h"

#include <cstdio>
#include <ctime>

#include "utf.h"

namespace host {
namespace {

std::string Json(const std::string& utf8) { return JsonString(Utf16(utf8)); }

// The calendar fields of t, in UTC or in the local time zone.
std::tm Fields(std::chrono::system_clock::time_point t, bool utc) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  std::tm fields{};
#if defined(_WIN32)
  utc ? gmtime_s(&fields, &seconds) : localtime_s(&fields, &seconds);
#else
  utc ? gmtime_r(&seconds, &fields) : localtime_r(&seconds, &fields);
#endif
  return fields;
}

}  // namespace

std::string JsonOpen(bool ok) {
  return "{\"schema\":" + std::to_string(kJsonSchema) + ",\"ok\":" + (ok ? "true" : "false");
}

std::string FailureFields(int code, const std::string& message, const std::string& cause, const std::string& next) {
  return ",\"code\":" + std::to_string(code) + ",\"message\":" + Json(message) + ",\"cause\":" + Json(cause) +
         ",\"next\":" + Json(next);
}

int Refuse(const Options& o, int status, const std::string& message, const std::string& cause,
           const std::string& next) {
  if (o.json) {
    std::printf("%s%s}\n", JsonOpen(false).c_str(), FailureFields(0, message, cause, next).c_str());
  } else {
    std::fprintf(stderr, "pesolan: %s%s%s%s%s\n", Escaped(message).c_str(), cause.empty() ? "" : ": ",
                 Escaped(cause).c_str(), next.empty() ? "" : "; ", Escaped(next).c_str());
  }
  return status;
}

int UsageError(const Options& o, const std::string& problem) {
  if (o.json) return Refuse(o, 2, problem, "the command line is not one pesolan takes", "pesolan --help shows the usage");
  std::fprintf(stderr, "pesolan: %s (pesolan --help shows the usage)\n", Escaped(problem).c_str());
  return 2;
}

Moment Moment::Now() { return {std::chrono::system_clock::now(), std::chrono::steady_clock::now(), 0}; }

void Moment::End() {
  elapsedMs = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

std::string Moment::Json() const {
  const std::tm f = Fields(began, true);
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(began.time_since_epoch()).count() % 1000);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", f.tm_year + 1900, f.tm_mon + 1, f.tm_mday,
                f.tm_hour, f.tm_min, f.tm_sec, ms);
  return ",\"elapsed_ms\":" + std::to_string(elapsedMs) + ",\"time\":\"" + text + "\"";
}

std::string Moment::Clock() const {
  const std::tm f = Fields(began, false);
  char text[48];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", f.tm_hour, f.tm_min, f.tm_sec);
  return text;
}

}  // namespace host
