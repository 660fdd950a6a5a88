#include "trace_echo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace host {
namespace {

// The path of the living TraceEcho's file, for a signal handler to remove.
char g_removeOnSignal[4096];

// A new empty file of our own; empty when none can be made.
std::string MakeTraceFile() {
#if defined(_WIN32)
  char dir[MAX_PATH], path[MAX_PATH];
  if (GetTempPathA(sizeof dir, dir) == 0 || GetTempFileNameA(dir, "pes", 0, path) == 0) return "";
  return path;
#else
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/pesolan-trace.XXXXXX";
  const int fd = mkstemp(&path[0]);
  if (fd < 0) return "";
  close(fd);
  return path;
#endif
}

void PointTraceAt(const std::string& path) {
#if defined(_WIN32)
  SetEnvironmentVariableA("PESOLAN_TRACE", path.c_str());
#else
  setenv("PESOLAN_TRACE", path.c_str(), 1);
#endif
}

// "2026-12-07 15:30:01.123 COM65 +12 ms sent 05 ENQ" -> "COM65 +12 ms sent 05 ENQ"
const char* WithoutDateAndTime(const char* line) {
  const char* rest = line;
  for (int field = 0; field < 2; ++field) {
    const char* space = std::strchr(rest, ' ');
    if (space == nullptr) return line;
    rest = space + 1;
  }
  return rest;
}

}  // namespace

void RemoveTraceFileNow() {
  if (g_removeOnSignal[0] == '\0') return;
#if defined(_WIN32)
  DeleteFileA(g_removeOnSignal);
#else
  unlink(g_removeOnSignal);
#endif
}

TraceEcho::TraceEcho() : path_(MakeTraceFile()) {
  if (!ok()) return;
  if (path_.size() < sizeof g_removeOnSignal) path_.copy(g_removeOnSignal, path_.size());
  PointTraceAt(path_);
}

TraceEcho::~TraceEcho() {
  if (!ok()) return;
  g_removeOnSignal[0] = '\0';
  std::remove(path_.c_str());
}

void TraceEcho::Echo() {
  if (!ok()) return;
  FILE* f = std::fopen(path_.c_str(), "rb");
  if (f == nullptr) return;
  std::fseek(f, offset_, SEEK_SET);
  char line[1024];
  while (std::fgets(line, sizeof line, f) != nullptr) std::fputs(WithoutDateAndTime(line), stderr);
  offset_ = std::ftell(f);
  std::fclose(f);
  std::fflush(stderr);
}

}  // namespace host
