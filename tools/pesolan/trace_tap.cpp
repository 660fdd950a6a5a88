#include "trace_tap.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "utf.h"

namespace host {
namespace {

// The path of the living TraceTap's own file, for a signal handler to remove.
char g_removeOnSignal[4096];

// A new empty file of our own; empty when none can be made.
std::string MakeTraceFile() {
#if defined(_WIN32)
  char dir[MAX_PATH], path[MAX_PATH];
  if (GetTempPathA(sizeof dir, dir) == 0 || GetTempFileNameA(dir, "pes", 0, path) == 0) return "";
  return path;
#else
  const char* tmp = std::getenv("TMPDIR");
  const std::string name = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/pesolan-trace.XXXXXX";
  if (name.size() >= sizeof g_removeOnSignal) return "";
  // Made in the signal handler's own buffer: mkstemp writes the name there
  // before it creates the file, so a signal never finds the file unnamed.
  name.copy(g_removeOnSignal, name.size());
  g_removeOnSignal[name.size()] = '\0';
  const int fd = mkstemp(g_removeOnSignal);
  if (fd < 0) {
    g_removeOnSignal[0] = '\0';
    return "";
  }
  close(fd);
  return g_removeOnSignal;
#endif
}

void PointTraceAt(const std::string& path) {
#if defined(_WIN32)
  SetEnvironmentVariableA("PESOLAN_TRACE", path.c_str());
#else
  setenv("PESOLAN_TRACE", path.c_str(), 1);
#endif
}

// Why the library could not write the trace file at path, as it opens it
// (a regular file, never through a link, made when missing); empty when it
// could.
std::string TraceFileProblem(const std::string& path) {
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)))
    return "it is no regular file";
  FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return std::strerror(errno);
  std::fclose(f);
  return "";
#else
  // Asked without opening it: the file is read only when a call needs it.
  struct stat st{};
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return "it is a link";
    if (!S_ISREG(st.st_mode)) return "it is no regular file";
    return access(path.c_str(), W_OK) == 0 ? "" : std::strerror(errno);
  }
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (access(folder.c_str(), W_OK | X_OK) != 0) return std::string("its folder: ") + std::strerror(errno);
  return "";
#endif
}

// A file the user named is read only while it is a regular file: a FIFO or
// a device named there is never opened (opening a FIFO would wait).
FILE* OpenRegular(const std::string& path) {
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
    return nullptr;
  return std::fopen(path.c_str(), "rb");
#else
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st{};
  if (fd < 0) return nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE* f = fdopen(fd, "rb");
  if (f == nullptr) close(fd);
  return f;
#endif
}

// "2026-12-07 15:30:01.123 COM65 +12 ms sent 05 ENQ" -> "COM65 +12 ms sent 05 ENQ"
std::string WithoutDateAndTime(const char* line) {
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

TraceTap::TraceTap(bool echo) : echo_(echo) {
  const char* named = std::getenv("PESOLAN_TRACE");
  if (named != nullptr && named[0] != '\0') {
    const std::string problem = TraceFileProblem(named);
    if (problem.empty()) {
      path_ = named;
      return;
    }
    // The trace is how pesolan knows the unit and the cause: it keeps one
    // of its own rather than go without.
    std::fprintf(stderr, "pesolan: PESOLAN_TRACE is ignored: %s cannot take the trace (%s)\n",
                 Escaped(named).c_str(), problem.c_str());
  }
  path_ = MakeTraceFile();
  if (path_.empty()) return;
  own_ = true;
  if (path_.size() < sizeof g_removeOnSignal) path_.copy(g_removeOnSignal, path_.size());
  PointTraceAt(path_);
}

TraceTap::~TraceTap() {
  if (!own_) return;
  g_removeOnSignal[0] = '\0';
  std::remove(path_.c_str());
}

long TraceTap::Size() const {
#if defined(_WIN32)
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path_.empty() || !GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
    return -1;
  return static_cast<long>(data.nFileSizeLow);
#else
  struct stat st{};
  if (path_.empty() || lstat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long>(st.st_size);
#endif
}

void TraceTap::Mark() {
  const long size = Size();
  // The file grew since the last mark: that is the last call's trace (a
  // file that shrank was rolled over, and is read from its start).
  if (mark_ >= 0 && size > mark_) {
    callFrom_ = mark_;
    callTo_ = size;
  } else if (mark_ > size && size > 0) {
    callFrom_ = 0;
    callTo_ = size;
  }
  const bool grew = size > 0 && size != mark_;
  mark_ = size < 0 ? 0 : size;
  if (echo_ && grew) {
    for (const std::string& line : Read(callFrom_, callTo_)) std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
}

std::vector<std::string> TraceTap::LastCall() { return Read(callFrom_, callTo_); }

std::vector<std::string> TraceTap::Read(long from, long to) const {
  std::vector<std::string> lines;
  if (to <= from) return lines;
  FILE* f = OpenRegular(path_);
  if (f == nullptr) return lines;
  if (std::fseek(f, from, SEEK_SET) == 0) {
    char line[1024];
    while (std::ftell(f) < to && std::fgets(line, sizeof line, f) != nullptr) {
      std::string text = WithoutDateAndTime(line);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      lines.push_back(ShownTraceLine(text));
    }
  }
  std::fclose(f);
  return lines;
}

}  // namespace host
