// The pesolan program as a person or a script uses it.

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pesolan_version.h"
#include "support/addin_fixture.h"
#include "support/open_counter.h"
#include "support/sim_process.h"
#include "support/text.h"

using testing_support::ClosedTcpPort;
using testing_support::SimProcess;

namespace {

struct Outcome {
  int status;
  std::string out;
};

// Runs pesolan with args (and environment variables env); out is stdout and
// stderr together, or what the redirection given instead makes of them.
Outcome Pesolan(const std::string& args, const std::string& redirect = "2>&1", const std::string& env = "") {
  const std::string command =
      env + " " + PESOLAN_PATH + " --lib " + PESOLAN_LIBRARY_PATH + " " + args + " " + redirect;
  Outcome r{-1, ""};
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, p) != nullptr) r.out += buffer;
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Tcp(const SimProcess& sim) { return "--tcp 127.0.0.1:" + std::to_string(sim.port()); }

TEST(Cli, WeightIsPrintedInTheChosenUnit) {
  SimProcess sim({"--tcp"});
  const Outcome r = Pesolan("weight " + Tcp(sim) + " --unit 2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "12345 g\n");
}

TEST(Cli, JsonForScriptsAndWatchRepeats) {
  SimProcess sim({"--tcp", "--mode", "request", "--weight", "1500", "--unit", "g"});
  const Outcome r = Pesolan("--json weight " + Tcp(sim) + " --unit 3 --watch --count 2 --interval 1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"ok\":true,\"weight\":1.5,\"unit\":3}\n{\"ok\":true,\"weight\":1.5,\"unit\":3}\n");
}

TEST(Cli, FailureGivesStatusOneWithTheNumberAndRussianMessage) {
  SimProcess silent({"--tcp", "--mode", "silent"});
  Outcome r = Pesolan("weight " + Tcp(silent));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "error 106: Нет данных от весов.\n");
  r = Pesolan("--json weight --tcp 127.0.0.1:" + std::to_string(ClosedTcpPort()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "{\"ok\":false,\"code\":105,\"message\":\"Ошибка подключения клиента TCP.\"}\n");
}

TEST(Cli, DeviceTestReportAndDocuments) {
  SimProcess sim({"--tcp"});
  Outcome r = Pesolan("--locale ru_RU.UTF-8 test " + Tcp(sim) + " --unit 3");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Вес равен 12,345 кг.\n");
  r = Pesolan("actions");
  EXPECT_EQ(r.out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Actions>  </Actions>\n");
}

TEST(Cli, UsageErrorsAndAMissingLibraryHaveTheirOwnStatus) {
  EXPECT_EQ(Pesolan("weight").status, 2) << "no channel";
  EXPECT_EQ(Pesolan("frobnicate").status, 2);
  EXPECT_EQ(Pesolan("weight --tcp nohost").status, 2);
  const std::string command = std::string(PESOLAN_PATH) + " --lib /nonexistent/libPesolan.so describe 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 3);
}

TEST(Cli, WeightsArePrintedExactlyAsTheLibraryReturnsThem) {
  SimProcess large({"--tcp", "--weight", "9999999"});
  SimProcess fine({"--tcp", "--mode", "request", "--line", "ST,GS, 1234.567kg"});
  SimProcess negative({"--tcp", "--weight", "-0.5"});
  EXPECT_EQ(Pesolan("weight " + Tcp(large)).out, "9999999\n") << "not 1e+07";
  EXPECT_EQ(Pesolan("weight " + Tcp(fine)).out, "1234.567\n") << "not 1234.57";
  EXPECT_EQ(Pesolan("weight " + Tcp(fine) + " --unit 2").out, "1234567 g\n");
  EXPECT_EQ(Pesolan("weight " + Tcp(negative)).out, "-0.5\n");
  EXPECT_EQ(Pesolan("--json weight " + Tcp(large)).out, "{\"ok\":true,\"weight\":9999999,\"unit\":0}\n");
  EXPECT_EQ(Pesolan("--json weight " + Tcp(fine)).out, "{\"ok\":true,\"weight\":1234.567,\"unit\":0}\n");
}

TEST(Cli, HelpGoesToStdoutAndWithJsonEveryErrorIsAnObject) {
  const Outcome help = Pesolan("--help", "2>/dev/null");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: pesolan", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("ports [--all]"), std::string::npos);

  Outcome r = Pesolan("--json frobnicate", "2>/dev/null");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "{\"ok\":false,\"code\":0,\"message\":\"unknown command 'frobnicate'\"}\n");
  r = Pesolan("--json weight --tcp 127.0.0.1:1 --unit 9", "2>/dev/null");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "{\"ok\":false,\"code\":0,\"message\":\"the driver refused Prm_Unit\"}\n");
  r = {-1, ""};
  const std::string command = std::string(PESOLAN_PATH) + " --json --lib /nonexistent/libPesolan.so describe";
  FILE* p = popen(command.c_str(), "r");
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
  EXPECT_EQ(WEXITSTATUS(pclose(p)), 3);
  EXPECT_EQ(std::string(line).rfind("{\"ok\":false,\"code\":0,\"message\":\"", 0), 0u) << line;
}

TEST(Cli, VersionIsTheSameInTheProgramTheLibraryAndItsDescription) {
  const Outcome r = Pesolan("--version", "2>/dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("pesolan ") + PESOLAN_VERSION + "\nlibrary: " + PESOLAN_LIBRARY_PATH +
                       "\ndriver version: " + PESOLAN_VERSION + "\n");
  std::ifstream library(PESOLAN_LIBRARY_PATH, std::ios::binary);
  std::stringstream bytes;
  bytes << library.rdbuf();
  EXPECT_NE(bytes.str().find(std::string("Pesolan driver version ") + PESOLAN_VERSION + '\0'), std::string::npos)
      << "the library file carries its version";
}

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Run with its standard error or output closed, the program's trace and its
// weight line never reach the scale: the scale hears the dialogue only.
TEST(Cli, ClosedStandardDescriptorsNeverBecomeTheScalesChannel) {
  char dir[] = "/tmp/pesolan-cli-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string heard = std::string(dir) + "/heard";
  SimProcess sim({"--tcp", "--mode", "request", "--received", heard});
  for (const char* closing : {"2>&-", ">&-", "<&- 2>&-"}) {
    std::remove(heard.c_str());
    const Outcome r = Pesolan("weight " + Tcp(sim) + " --trace", closing);
    EXPECT_EQ(r.status, 0) << closing;
    EXPECT_EQ(FileText(heard), "\x05\x11") << "ENQ, then DC1, and nothing else; " << closing;
  }
  std::remove(heard.c_str());
  rmdir(dir);
}

// pesolan started in the background with `args`, its temporary files in
// tmpdir and its output thrown away; the child's pid.
pid_t StartPesolan(const std::string& args, const std::string& tmpdir) {
  const std::string command = "exec env TMPDIR=" + tmpdir + " " + PESOLAN_PATH + " --lib " + PESOLAN_LIBRARY_PATH +
                              " " + args + " >/dev/null 2>&1";
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

bool Empty(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  int entries = 0;
  while (const dirent* e = readdir(d)) entries += e->d_name[0] == '.' ? 0 : 1;
  closedir(d);
  return entries == 0;
}

// Waits until the trace's temporary file is in dir, at most 5 s.
bool TraceFileAppears(const std::string& dir) {
  for (int i = 0; i < 500 && Empty(dir); ++i) usleep(10000);
  return !Empty(dir);
}

TEST(Cli, CtrlCEndsAReadingAtOnceAndNoSignalLeavesTheTraceFileBehind) {
  SimProcess silent({"--tcp", "--mode", "silent"});
  char dir[] = "/tmp/pesolan-cli-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  // A silent scale: each reading spends more than a second waiting.
  const pid_t reading = StartPesolan("weight " + Tcp(silent) + " --trace --watch", dir);
  ASSERT_TRUE(TraceFileAppears(dir));
  usleep(500000);  // the open is done, a reading is under way
  testing_support::Stopwatch watch;
  kill(reading, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(reading, &status, 0), reading);
  EXPECT_LT(watch.ms(), 300) << "the reading in progress is not waited for";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_TRUE(Empty(dir)) << "after SIGINT";

  const pid_t terminated = StartPesolan("weight " + Tcp(silent) + " --trace --watch", dir);
  ASSERT_TRUE(TraceFileAppears(dir));
  kill(terminated, SIGTERM);
  ASSERT_EQ(waitpid(terminated, &status, 0), terminated);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(Empty(dir)) << "after SIGTERM";

  SimProcess streaming({"--tcp"});
  const std::string command = "env TMPDIR=" + std::string(dir) + " " + PESOLAN_PATH + " --lib " +
                              PESOLAN_LIBRARY_PATH + " weight " + Tcp(streaming) +
                              " --trace --watch --interval 10 2>/dev/null | head -c 1 >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(Empty(dir)) << "after SIGPIPE";
  rmdir(dir);
}

// ---- ports --------------------------------------------------------------------

// A line of `pesolan ports` for a COM number, or "" when it is not listed.
std::string PortLine(const std::string& out, int com) {
  std::istringstream lines(out);
  const std::string prefix = "COM" + std::to_string(com) + " ";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "";
}

TEST(CliPorts, EachStateThisMachineCanMake) {
  REQUIRE_PRIVATE_DEV();
  SimProcess sim({"--pty"});
  testing_support::PlacedPty placed(sim.ptyPath());  // COM65
  ASSERT_TRUE(placed.ok());

  Outcome r = Pesolan("ports");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(PortLine(r.out, 65).find("/dev/ttyUSB0"), std::string::npos) << r.out;
  EXPECT_NE(PortLine(r.out, 65).find("free"), std::string::npos) << r.out;
  EXPECT_EQ(PortLine(r.out, 66), "") << "absent ports are listed only with --all";

  r = Pesolan("ports --all");
  EXPECT_NE(PortLine(r.out, 1).find("/dev/ttyS0"), std::string::npos);
  EXPECT_NE(PortLine(r.out, 1).find("absent"), std::string::npos);
  EXPECT_NE(PortLine(r.out, 66).find("absent: not a terminal"), std::string::npos) << "an empty file";
  EXPECT_NE(PortLine(r.out, 256).find("/dev/ttyACM63"), std::string::npos);

  {
    const int holder = open("/dev/ttyUSB0", O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    r = Pesolan("ports");
    close(holder);
  }
  const std::string self = "(pid " + std::to_string(getpid()) + ")";
  EXPECT_NE(PortLine(r.out, 65).find("in use: "), std::string::npos) << r.out;
  EXPECT_NE(PortLine(r.out, 65).find(self), std::string::npos) << "the holder is named: " << r.out;

  // As a user who may not open the terminal: it belongs to root, and its
  // group is told as the one to join.
  struct stat node{};
  ASSERT_EQ(stat("/dev/ttyUSB0", &node), 0);
  const group* owner = getgrgid(node.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups " + std::string(PESOLAN_PATH);
  FILE* p = popen((asNobody + " ports 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  for (char line[512]; std::fgets(line, sizeof line, p) != nullptr;) out += line;
  EXPECT_EQ(WEXITSTATUS(pclose(p)), 0) << out;
  EXPECT_NE(PortLine(out, 65).find("no permission: the node belongs to group '" + std::string(owner->gr_name) + "'"),
            std::string::npos)
      << out;

  r = Pesolan("--json ports");
  EXPECT_NE(r.out.find("{\"com\":65,\"device\":\"/dev/ttyUSB0\",\"state\":\"free\"}"), std::string::npos)
      << r.out;
}

// A program that holds the port without a lock still has it; and what other
// processes call themselves is shown, never obeyed, by the terminal.
TEST(CliPorts, EveryHolderCountsAndItsNameIsShownEscaped) {
  REQUIRE_PRIVATE_DEV();
  SimProcess sim({"--pty"});
  testing_support::PlacedPty placed(sim.ptyPath());  // COM65
  ASSERT_TRUE(placed.ok());
  char ownName[32] = {};
  prctl(PR_GET_NAME, ownName);
  prctl(PR_SET_NAME, "\x1b]0;owned\x07");
  const int holder = open("/dev/ttyUSB0", O_RDWR | O_NOCTTY);
  const Outcome r = Pesolan("ports");
  close(holder);
  prctl(PR_SET_NAME, ownName);
  ASSERT_GE(holder, 0);
  const std::string self = "(pid " + std::to_string(getpid()) + ")";
  EXPECT_NE(PortLine(r.out, 65).find("in use: \\x1b]0;owned\\x07 " + self), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "no escape sequence reaches the terminal";
}

// ---- the trace ----------------------------------------------------------------

struct Event {
  unsigned ms;
  std::string what;
};

// The events of a --trace: "127.0.0.1:4000 +200 ms sent 05 ENQ".
std::vector<Event> Events(const std::string& trace) {
  std::vector<Event> events;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const size_t plus = line.find(" +"), ms = line.find(" ms ");
    if (plus == std::string::npos || ms == std::string::npos) continue;
    events.push_back({static_cast<unsigned>(std::stoul(line.substr(plus + 2, ms - plus - 2))), line.substr(ms + 4)});
  }
  return events;
}

// The time of each expected event, found in this order (each one starts
// the line); -1 for one that is missing. Times never go back within the
// open, nor within the reading (which counts from its own beginning).
std::vector<long> InOrder(const std::vector<Event>& events, const std::vector<std::string>& expected) {
  std::vector<long> at;
  size_t next = 0;
  unsigned last = 0;
  for (const std::string& want : expected) {
    while (next < events.size() && events[next].what.rfind(want, 0) != 0) ++next;
    at.push_back(next < events.size() ? static_cast<long>(events[next].ms) : -1);
    if (next < events.size()) {
      if (want == "reading begins") last = 0;
      EXPECT_GE(events[next].ms, last) << want;
      last = events[next].ms;
      ++next;
    }
  }
  return at;
}

TEST(CliTrace, StreamReading) {
  SimProcess sim({"--tcp"});
  const Outcome r = Pesolan("weight " + Tcp(sim) + " --trace", "2>&1 >/dev/null");
  const auto at = InOrder(Events(r.out), {"connected to 127.0.0.1", "reading begins", "stream: took", "way: stream",
                                          "recv 0A LF", "parsed: stable 12.345 kg", "result: 12.345, error 0"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
  EXPECT_GE(at[2] - at[1], 80 - 2) << "the purge waits at least 80 ms before it looks for a stream";
  EXPECT_LT(at[6], 400) << r.out;
}

TEST(CliTrace, RequestReadingAndTheFallback) {
  SimProcess sim({"--tcp", "--mode", "request"});
  Outcome r = Pesolan("weight " + Tcp(sim) + " --trace", "2>&1 >/dev/null");
  auto at = InOrder(Events(r.out), {"reading begins", "way: ENQ, then DC1", "sent 05 ENQ", "recv 06 ACK",
                                    "reply of 1 byte", "sent 11 DC1", "recv 53 'S'", "reply of 18 bytes",
                                    "parsed: stable 12.345 kg", "result: 12.345, error 0"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
  EXPECT_GE(at[2], 200 - 2) << "after the purge's 200 ms";
  EXPECT_GE(at[5] - at[2], 168 + 80 - 2) << "the pause after ENQ and the silence after ACK";

  SimProcess nak({"--tcp", "--mode", "request", "--enq-reply", "nak"});
  r = Pesolan("weight " + Tcp(nak) + " --trace", "2>&1 >/dev/null");
  at = InOrder(Events(r.out), {"way: ENQ, then DC1", "sent 05 ENQ", "recv 15 NAK", "no lone ACK to ENQ",
                               "way: ENQ DC1 together", "sent 05 ENQ", "sent 11 DC1", "parsed: stable",
                               "result: 12.345, error 0"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
}

TEST(CliTrace, SilentScaleShowsEachWaitRunningOut) {
  SimProcess silent({"--tcp", "--mode", "silent"});
  const Outcome r = Pesolan("weight " + Tcp(silent) + " --trace", "2>&1 >/dev/null");
  const auto at = InOrder(Events(r.out), {"reading begins", "way: ENQ, then DC1", "sent 05 ENQ",
                                          "no reply within 300 ms", "no lone ACK", "way: ENQ DC1 together",
                                          "no reply within 300 ms", "result: no weight, error 106"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
  EXPECT_GE(at[3] - at[2], 168 + 300 - 2);
  EXPECT_GE(at[7], 2 * (168 + 300) + 200 - 2);
}

TEST(CliTrace, TheLibraryWritesTheFileNamedByTheVariableAndAnUnwritableOneIsHarmless) {
  SimProcess sim({"--tcp", "--mode", "request"});
  char dir[] = "/tmp/pesolan-trace-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/trace.log";
  Outcome r = Pesolan("weight " + Tcp(sim), "2>&1", "PESOLAN_TRACE=" + file);
  EXPECT_EQ(r.out, "12.345\n") << "nothing of the trace on the console";
  {
    testing_support::OpenCounter opens({file});
    ASSERT_TRUE(opens.ok());
    ASSERT_EQ(Pesolan("weight " + Tcp(sim), "2>&1", "PESOLAN_TRACE=" + file).out, "12.345\n");
    EXPECT_EQ(opens.TakeTotal(), 2) << "once for the open, once for the reading";
  }
  std::ifstream written(file);
  std::stringstream lines;
  lines << written.rdbuf();
  const std::string port = "127.0.0.1:" + std::to_string(sim.port());
  // "2026-12-07 15:30:01.123 127.0.0.1:4000 +200 ms sent 05 ENQ"
  std::istringstream each(lines.str());
  int count = 0;
  for (std::string line; std::getline(each, line); ++count) {
    EXPECT_EQ(line.size() > 24 ? line.substr(4, 1) + line.substr(7, 1) + line.substr(10, 1) + line.substr(13, 1) +
                                     line.substr(19, 1)
                               : "",
              "-- :.")
        << "date and time first: " << line;
    EXPECT_NE(line.find(" " + port + " +"), std::string::npos) << "then the channel: " << line;
  }
  EXPECT_GE(count, 20);
  const auto at = InOrder(Events(lines.str()), {"connected to", "reading begins", "way: ENQ, then DC1", "result: 12.345"});
  EXPECT_GE(at.back(), 0) << lines.str();

  struct stat created{};
  ASSERT_EQ(stat(file.c_str(), &created), 0);
  EXPECT_EQ(created.st_mode & 0777, 0600u) << "the dialogue is for its owner only";

  for (const std::string& unwritable : {std::string(dir), std::string("/nonexistent/dir/trace.log")}) {
    r = Pesolan("weight " + Tcp(sim), "2>&1", "PESOLAN_TRACE=" + unwritable);
    EXPECT_EQ(r.status, 0) << unwritable;
    EXPECT_EQ(r.out, "12.345\n") << unwritable;
  }
  std::remove(file.c_str());
  rmdir(dir);
}

// A trace variable may name anything: nothing but a regular file is ever
// opened, and the reading neither waits for it nor changes.
TEST(CliTrace, ATraceThatIsNoRegularFileIsLeftAloneAndTheReadingIsUnchanged) {
  SimProcess sim({"--tcp", "--mode", "request"});
  char dir[] = "/tmp/pesolan-trace-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string fifo = std::string(dir) + "/fifo", target = std::string(dir) + "/target",
                    link = std::string(dir) + "/link";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(target) << "kept\n";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  testing_support::Stopwatch plain;
  ASSERT_EQ(Pesolan("weight " + Tcp(sim)).out, "12.345\n");
  const long normal = plain.ms();
  for (const std::string& path : {fifo, link, std::string(dir), std::string(dir) + "/missing/trace.log"}) {
    testing_support::Stopwatch watch;
    // timeout: a library that waits for a reader of the FIFO would hang here.
    const Outcome r = Pesolan("weight " + Tcp(sim), "2>&1", "PESOLAN_TRACE=" + path + " timeout 30");
    EXPECT_EQ(r.status, 0) << path;
    EXPECT_EQ(r.out, "12.345\n") << path;
    EXPECT_LT(watch.ms(), normal + 1500) << path;
  }
  std::ifstream kept(target);
  std::stringstream text;
  text << kept.rdbuf();
  EXPECT_EQ(text.str(), "kept\n") << "the file a link points to is not written";
  struct stat node{};
  EXPECT_EQ(lstat(link.c_str(), &node), 0);
  EXPECT_TRUE(S_ISLNK(node.st_mode));
  for (const std::string& made : {fifo, target, link}) std::remove(made.c_str());
  rmdir(dir);
}

TEST(CliTrace, PastItsLimitTheFileIsRenamedAndANewOneBegun) {
  SimProcess sim({"--tcp"});
  char dir[] = "/tmp/pesolan-trace-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/trace.log", older = file + ".1";
  const std::string full(1 << 20, 'x');
  std::ofstream(file) << full;
  std::ofstream(older) << "oldest\n";
  const std::string env = "PESOLAN_TRACE=" + file + " PESOLAN_TRACE_MAX_MB=1";
  ASSERT_EQ(Pesolan("weight " + Tcp(sim), "2>&1", env).out, "12.345\n");
  struct stat rolled{}, fresh{};
  ASSERT_EQ(stat(older.c_str(), &rolled), 0);
  EXPECT_EQ(rolled.st_size, static_cast<off_t>(full.size())) << "the full file replaced the older one";
  ASSERT_EQ(stat(file.c_str(), &fresh), 0);
  EXPECT_GT(fresh.st_size, 0);
  EXPECT_LT(fresh.st_size, 64 * 1024) << "the open's and the reading's lines only";
  const off_t first = fresh.st_size;
  ASSERT_EQ(Pesolan("weight " + Tcp(sim), "2>&1", env).out, "12.345\n");
  ASSERT_EQ(stat(file.c_str(), &fresh), 0);
  EXPECT_GT(fresh.st_size, first) << "below the limit the file grows";
  ASSERT_EQ(stat(older.c_str(), &rolled), 0);
  EXPECT_EQ(rolled.st_size, static_cast<off_t>(full.size()));
  std::remove(file.c_str());
  std::remove(older.c_str());
  rmdir(dir);
}

TEST(CliTrace, SerialOpenNamesThePortAndItsDevice) {
  REQUIRE_PRIVATE_DEV();
  SimProcess sim({"--pty"});
  testing_support::PlacedPty placed(sim.ptyPath());
  ASSERT_TRUE(placed.ok());
  Outcome r = Pesolan("weight --com 65 --trace", "2>&1 >/dev/null");
  auto at = InOrder(Events(r.out), {"serial ports found: COM65", "opened COM65 (/dev/ttyUSB0)", "reading begins",
                                    "stream: a byte came unasked", "way: stream", "result: 12.345, error 0"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
  r = Pesolan("weight --com 66 --trace", "2>&1 >/dev/null");
  at = InOrder(Events(r.out), {"serial ports found: COM65", "cannot open COM66 (/dev/ttyUSB1)"});
  EXPECT_GE(at[1], 0) << r.out;
}


}  // namespace
