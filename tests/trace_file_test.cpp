// The trace file past its limit: several processes writing at once roll it
// over once and lose nothing but what the limit allows, and a roll-over
// that cannot move the file aside starts it afresh, saying so.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/os.h"

namespace {

constexpr uint64_t kLimit = 4096;

// A folder of the test's own, removed with what it holds; path is empty
// when it could not be made.
struct Folder {
  Folder() {
    char made[] = "/tmp/pesolan-trace-file.XXXXXX";
    path = mkdtemp(made) != nullptr ? made : "";
  }
  ~Folder() {
    if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
  }
  std::string path;
};

long SizeOf(const std::string& path) {
  struct stat node {};
  return stat(path.c_str(), &node) == 0 ? static_cast<long>(node.st_size) : -1;
}

std::string Line(int writer, int n) {
  char line[128];
  std::snprintf(line, sizeof line, "writer %d line %04d %s\n", writer, n, std::string(60, 'x').c_str());
  return line;
}

// Four processes append past the limit again and again. A file moved aside
// was full when it went: were a second writer to roll over what the first
// had just begun, a fresh, nearly empty file would be thrown into .1.
TEST(TraceFile, WritersPastTheLimitAtOnceRollItOverOnlyWhenFull) {
  Folder dir;
  ASSERT_FALSE(dir.path.empty()) << "no folder for the trace";
  ASSERT_FALSE(dir.path.empty());
  const std::string path = dir.path + "/trace.log", older = path + ".1";
  int failures = 0;
  pid_t writers[4];
  for (int w = 0; w < 4; ++w) {
    writers[w] = fork();
    if (writers[w] == 0) {
      int smallOlder = 0;
      for (int n = 0; n < 400; ++n) {
        const std::string line = Line(w, n);
        os::AppendTrace(path.c_str(), line.data(), line.size(), kLimit);
        const long size = SizeOf(older);
        if (size >= 0 && size < static_cast<long>(kLimit / 2)) ++smallOlder;
      }
      _exit(smallOlder > 0 ? 1 : 0);
    }
  }
  for (const pid_t w : writers) {
    int status = 0;
    waitpid(w, &status, 0);
    failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
  }
  EXPECT_EQ(failures, 0) << "a nearly empty file was moved aside";
  EXPECT_LE(SizeOf(path), static_cast<long>(kLimit));
  EXPECT_LE(SizeOf(older), static_cast<long>(kLimit));
}

// Where path.1 cannot be replaced (here: it is a folder), the file starts
// afresh with a line that says why, and stays within the limit.
TEST(TraceFile, ARollOverThatCannotMoveTheFileStartsItAfresh) {
  Folder dir;
  ASSERT_FALSE(dir.path.empty()) << "no folder for the trace";
  const std::string path = dir.path + "/trace.log";
  ASSERT_EQ(mkdir((path + ".1").c_str(), 0700), 0);
  for (int n = 0; n < 200; ++n) {
    const std::string line = Line(0, n);
    ASSERT_TRUE(os::AppendTrace(path.c_str(), line.data(), line.size(), kLimit)) << n;
  }
  std::ifstream in(path);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first.rfind("trace: cannot move " + path + " aside to " + path + ".1 (", 0), 0u) << first;
  EXPECT_NE(first.find("): the file starts afresh"), std::string::npos) << first;
  EXPECT_LE(SizeOf(path), static_cast<long>(kLimit));
  std::stringstream rest;
  rest << in.rdbuf();
  EXPECT_NE(rest.str().find(Line(0, 199)), std::string::npos) << "the trace goes on";
}

}  // namespace
