// The pesolan program as a person or a script uses it.

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pesolan_version.h"
#include "support/addin_fixture.h"
#include "support/offline.h"
#include "support/open_counter.h"
#include "support/programs.h"
#include "support/sim_process.h"
#include "support/messages.h"
#include "support/text.h"

using testing_support::ClosedTcpPort;
using testing_support::Clockless;
using testing_support::Untimed;
using testing_support::Message;
using testing_support::Outcome;
using testing_support::Pesolan;
using testing_support::ScaleSim;
using testing_support::SimProcess;
using testing_support::Tcp;

namespace {

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// pesolan started in the background with `args`, its temporary files in
// tmpdir, environment variables env and its output, stdout and stderr, into
// the file output; the child's pid.
pid_t StartPesolan(const std::string& args, const std::string& tmpdir, const std::string& env = "",
                   const std::string& output = "/dev/null") {
  const std::string command = "exec env LC_ALL= LC_MESSAGES= LANG=C TMPDIR=" + tmpdir + " " + env + " " + PESOLAN_PATH + " --lib " +
                              PESOLAN_LIBRARY_PATH + " " + args + " >" + output + " 2>&1";
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

// How many readings the library's trace file holds: each is written whole
// when it ends.
int ReadingsTraced(const std::string& file) {
  const std::string text = FileText(file);
  int readings = 0;
  for (size_t at = 0; (at = text.find("reading begins", at)) != std::string::npos; ++at) ++readings;
  return readings;
}

// Waits up to 20 s until the file holds text at least times times.
bool FileHolds(const std::string& path, const std::string& text, int times = 1) {
  for (testing_support::Stopwatch wait; wait.ms() < 20000; usleep(10000)) {
    const std::string held = FileText(path);
    int found = 0;
    for (size_t at = held.find(text); at != std::string::npos; at = held.find(text, at + 1)) ++found;
    if (found >= times) return true;
  }
  return false;
}

// The one file in dir, or an empty text.
std::string OnlyFile(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  std::string name;
  while (d != nullptr && name.empty()) {
    const dirent* e = readdir(d);
    if (e == nullptr) break;
    if (e->d_name[0] != '.') name = dir + "/" + e->d_name;
  }
  if (d != nullptr) closedir(d);
  return name;
}

TEST(Cli, WeightIsPrintedInTheChosenUnit) {
  SimProcess sim({"--tcp"});
  const Outcome r = Pesolan("weight " + Tcp(sim) + " --unit 2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "12345 g\n");
  // An option's value may follow '='.
  EXPECT_EQ(Pesolan("weight --tcp=127.0.0.1:" + std::to_string(sim.port()) + " --unit=2").out, "12345 g\n");
  // A negative weight the cut leaves at zero is 0, in every form.
  SimProcess nearZero({"--tcp", "--weight", "-0.4", "--unit", "g"});
  EXPECT_EQ(Pesolan("weight " + Tcp(nearZero) + " --unit 3").out, "0 kg\n");
  EXPECT_EQ(Clockless(Pesolan("--json weight " + Tcp(nearZero) + " --unit 3").out),
            "{\"schema\":1,\"ok\":true,\"weight\":0,\"unit\":\"kg\",\"unit_option\":3,\"stable\":true}\n");
  EXPECT_EQ(Pesolan("--locale ru_RU.UTF-8 test " + Tcp(nearZero) + " --unit 3").out, "Вес равен 0,000 кг.\n");
}

TEST(Cli, JsonForScriptsAndWatchRepeats) {
  SimProcess sim({"--tcp", "--mode", "request", "--weight", "1500", "--unit", "g"});
  // One object a line: each reading with its moment and length, then the
  // summary.
  Outcome r = Pesolan("--json weight " + Tcp(sim) + " --unit 3 --watch --count 2 --interval 1");
  EXPECT_EQ(r.status, 0);
  const std::string line = "{\"schema\":1,\"ok\":true,\"weight\":1.5,\"unit\":\"kg\",\"unit_option\":3,\"stable\":true}\n";
  EXPECT_EQ(Clockless(r.out),
            line + line + "{\"schema\":1,\"ok\":true,\"summary\":{\"readings\":2,\"weights\":2,\"failures\":{}}}\n")
      << r.out;

  // The status is the last reading's: one refused as unstable, then two
  // good. Each attempt is a line with its time: a weight on stdout, a
  // failure and the summary on stderr.
  SimProcess settling({"--tcp", "--mode", "request", "--unstable", "1"});
  r = Pesolan("weight " + Tcp(settling) + " --watch --count 3 --interval 1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Untimed(r.out), "T error 110: " + Message(110) + " (the weight is not stable yet)\nT 12.345 kg\nT 12.345 kg\n"
                            "watch: 3 readings, 2 weights, failed: 1 with 110\n");
  r = Pesolan("weight " + Tcp(settling) + " --watch --count 3 --interval 1", "2>/dev/null");
  EXPECT_EQ(Untimed(r.out), "T 12.345 kg\nT 12.345 kg\n");

  // --interval is the period from one reading's start to the next: a silent
  // scale's readings (over a second each) end 1.5 s apart, where a pause
  // after each would put them 2.6 s apart or more.
  char dir[] = "/tmp/pesolan-cli-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string out = std::string(dir) + "/out";
  SimProcess silent({"--tcp", "--mode", "silent"});
  const pid_t watching = StartPesolan("weight " + Tcp(silent) + " --watch --count 3 --interval 1500", dir, "", out);
  std::vector<long> ended;
  for (testing_support::Stopwatch clock; ended.size() < 3 && clock.ms() < 20000; usleep(5000)) {
    const std::string text = FileText(out);
    size_t failures = 0;
    for (size_t at = text.find("error 106:"); at != std::string::npos; at = text.find("error 106:", at + 1)) ++failures;
    while (ended.size() < failures) ended.push_back(clock.ms());
  }
  int status = 0;
  ASSERT_EQ(waitpid(watching, &status, 0), watching);
  ASSERT_EQ(ended.size(), 3u) << FileText(out);
  for (size_t i = 1; i < ended.size(); ++i) {
    EXPECT_GE(ended[i] - ended[i - 1], 1500 - 100) << i;
    EXPECT_LT(ended[i] - ended[i - 1], 2400) << i;
  }
  std::remove(out.c_str());
  rmdir(dir);
}

// A scale switched off and on again while --watch reads it: the watch says
// the channel had closed, opens it again, and goes on reading. Each step
// waits for the output that shows the one before it done.
TEST(Cli, WatchOpensAChannelThatClosedAgain) {
  char dir[] = "/tmp/pesolan-cli-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string json = std::string(dir) + "/json", text = std::string(dir) + "/text";
  auto before = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp"});
  const int port = before->port();
  const std::string tcp = "--tcp 127.0.0.1:" + std::to_string(port);
  const pid_t watching = StartPesolan("--json weight " + tcp + " --watch --count 16 --interval 200", dir, "", json);
  ASSERT_TRUE(FileHolds(json, "\"weight\":12.345", 2)) << FileText(json);
  before.reset();  // switched off
  ASSERT_TRUE(FileHolds(json, "\"reopened\":false")) << "a reading found it off: " << FileText(json);
  SimProcess after({"--tcp", std::to_string(port), "--weight", "2", "--control"});
  int status = 0;
  ASSERT_EQ(waitpid(watching, &status, 0), watching);
  const std::string out = FileText(json);
  ASSERT_TRUE(after.ok()) << "the port is free again";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_EQ(out.rfind("{\"schema\":1,\"ok\":true,\"weight\":12.345,", 0), 0u) << out;
  EXPECT_NE(out.find("\"cause\":\"the connection is closed: the scale hung up"), std::string::npos) << out;
  EXPECT_NE(out.find(",\"reopened\":true}\n"), std::string::npos) << out;
  EXPECT_NE(out.find(",\"reopened\":false,\"reopen_cause\":\"cannot connect to 127.0.0.1:"), std::string::npos) << out;
  const std::string last = "{\"schema\":1,\"ok\":true,\"weight\":2,\"unit\":\"kg\",\"unit_option\":0,\"stable\":true}\n"
                           "{\"schema\":1,\"ok\":true,\"summary\":{\"readings\":16,";
  EXPECT_NE(Clockless(out).find(last), std::string::npos) << "the scale read again after it came back: " << out;

  // In text, a line says so.
  const pid_t again = StartPesolan("weight " + tcp + " --watch --count 10 --interval 200", dir, "", text);
  ASSERT_TRUE(FileHolds(text, " 2 kg\n")) << FileText(text);
  ASSERT_TRUE(after.Command("disconnect"));
  ASSERT_EQ(waitpid(again, &status, 0), again);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << FileText(text);
  const std::string watched = Untimed(FileText(text));
  const size_t reopened = watched.find("; the channel had closed: opened it again\nT 2 kg\n");
  EXPECT_NE(reopened, std::string::npos) << watched;
  EXPECT_NE(watched.rfind("\nT error 106: " + Message(106) + " (the connection is closed: ", reopened), std::string::npos)
      << watched;
  std::remove(json.c_str());
  std::remove(text.c_str());
  rmdir(dir);
}

// The second and third lines of a failure: "cause: ..." and "next: ...".
std::string CauseLine(const std::string& out) {
  const size_t at = out.find("\ncause: ");
  return at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

TEST(Cli, AFailureGivesTheNumberTheRussianMessageItsCauseAndTheNextStep) {
  // Each cause and next step in the words of the channel: an address has
  // no cable, no line setting and no serial port to listen on.
  SimProcess silent({"--tcp", "--mode", "silent"});
  Outcome r = Pesolan("weight " + Tcp(silent), "2>/dev/null");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "") << "stdout holds the result alone";
  r = Pesolan("weight " + Tcp(silent), "2>&1 >/dev/null");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("error 106: " + Message(106) + "\ncause: nothing came from the scale", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nnext: check that the scale is on, that this address and port are its own"),
            std::string::npos)
      << r.out;
  for (const char* serialOnly : {"null-modem", "--attrs", "listens on every free port"}) {
    EXPECT_EQ(r.out.find(serialOnly), std::string::npos) << serialOnly << ": " << r.out;
  }
  // The device test fails with the same lines, once.
  EXPECT_EQ(Pesolan("test " + Tcp(silent)).out, r.out);

  // Bytes that form no weight line end in 106 as the driver's codes say;
  // the cause says what the trace knows.
  SimProcess junk({"--tcp", "--mode", "junk-long"});
  r = Pesolan("weight " + Tcp(junk));
  EXPECT_EQ(r.out.rfind("error 106: ", 0), 0u) << r.out;
  EXPECT_NE(CauseLine(r.out).find("48 bytes without a weight line"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pesolan find --tcp HOST:PORT"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("--attrs"), std::string::npos) << r.out;

  // A scale that hangs up during the reading: the trace says so, and so
  // does the cause (not "nothing came").
  SimProcess hangsUp({"--tcp", "--disconnect-after", "20", "--interval", "300"});
  r = Pesolan("weight " + Tcp(hangsUp));
  EXPECT_EQ(CauseLine(r.out), "cause: the connection is closed: the scale hung up, or the network between broke")
      << r.out;

  const ClosedTcpPort closed;
  r = Pesolan("weight --tcp 127.0.0.1:" + std::to_string(closed.port()));
  EXPECT_EQ(r.out.rfind("error 105: " + Message(105) + "\n", 0), 0u) << r.out;
  EXPECT_NE(CauseLine(r.out).find(": Connection refused"), std::string::npos) << r.out;
  const std::string unresolved = testing_support::Offline([] { return Pesolan("weight --tcp nohost.invalid:4000").out; });
  if (unresolved != testing_support::kNotOffline) {
    EXPECT_NE(CauseLine(unresolved).find("the name does not resolve: "), std::string::npos) << "the resolver's words";
    EXPECT_EQ(unresolved.find("Success"), std::string::npos) << unresolved;
  }

  // A watch that had weights from an address never sends the person to
  // check that address once the scale stops.
  char dir[] = "/tmp/pesolan-cli-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string watched = std::string(dir) + "/out";
  SimProcess stops({"--tcp", "--control"});
  const pid_t watching = StartPesolan("--json weight " + Tcp(stops) + " --watch --count 5 --interval 300", dir, "", watched);
  ASSERT_TRUE(FileHolds(watched, "\"weight\":12.345,")) << FileText(watched);
  ASSERT_TRUE(stops.Command("mode silent"));
  int status = 0;
  ASSERT_EQ(waitpid(watching, &status, 0), watching);
  r.out = FileText(watched);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << r.out;
  EXPECT_NE(r.out.find("\"code\":106,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"next\":\"it gave weights here before: check that the scale is still on"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("address"), std::string::npos) << r.out;
  std::remove(watched.c_str());
  rmdir(dir);

  // A flood is called a flood, not silence.
  SimProcess flood({"--tcp", "--flood"});
  r = Pesolan("weight " + Tcp(flood));
  EXPECT_EQ(CauseLine(r.out).rfind("cause: the scale sends faster than a reading can keep up (still behind the scale",
                                   0), 0u) << r.out;

  // A scale whose lines come too far apart for a stream reading is told
  // from one that stopped or never sent: pesolan listens to it and says how
  // often its lines come.
  SimProcess slow({"--tcp", "--interval", "1500"});
  r = Pesolan("weight " + Tcp(slow), "2>&1 >/dev/null");
  EXPECT_EQ(r.status, 1);
  const size_t every = CauseLine(r.out).find("cause: the scale streams a line about every ");
  ASSERT_EQ(every, 0u) << r.out;
  const int ms = std::atoi(r.out.c_str() + r.out.find("every ") + 6);
  EXPECT_GE(ms, 1400) << r.out;
  EXPECT_LE(ms, 1600) << r.out;
  EXPECT_NE(r.out.find(" ms; the driver needs one within 256 ms\nnext: set the scale's send interval shorter"),
            std::string::npos)
      << r.out;

  SimProcess unsteady({"--tcp", "--unstable", "100000", "--unit", "g", "--weight", "1500"});
  r = Pesolan("weight " + Tcp(unsteady));
  EXPECT_EQ(r.out.rfind("error 110: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("--allow-unstable"), std::string::npos) << r.out;
  EXPECT_EQ(Pesolan("weight " + Tcp(unsteady) + " --allow-unstable").out, "1500 g unstable\n");
  EXPECT_EQ(Clockless(Pesolan("--json weight " + Tcp(unsteady) + " --allow-unstable").out),
            "{\"schema\":1,\"ok\":true,\"weight\":1500,\"unit\":\"g\",\"unit_option\":0,\"stable\":false}\n");

  // Every JSON failure, the device test's included, has its number, the
  // driver's message, the cause and the next step.
  for (const std::string command : {"weight", "test"}) {
    r = Pesolan("--json " + command + " " + Tcp(silent));
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.out.rfind("{\"schema\":1,\"ok\":false,\"code\":106,\"message\":\"" + Message(106) +
                              "\",\"cause\":\"nothing came", 0), 0u)
        << r.out;
    EXPECT_NE(r.out.find(",\"next\":\""), std::string::npos) << r.out;
  }
}

// pesolan's own words (causes, next steps, find, --watch) are the user's
// language: --lang, else LC_ALL, LC_MESSAGES or LANG, the first set. The
// driver's message and the trace stay as they are.
TEST(Cli, ItsOwnWordsAreInTheUsersLanguage) {
  SimProcess silent({"--tcp", "--mode", "silent"});
  const std::string ru = "\ncause: от весов ничего не пришло: ни потока строк, ни ответа на ENQ или ENQ DC1\n";
  const std::string en = "\ncause: nothing came from the scale: no stream, and no answer to ENQ or ENQ DC1\n";
  const std::string weight = "weight " + Tcp(silent);
  EXPECT_NE(Pesolan(weight, "2>&1", "LANG=ru_RU.UTF-8").out.find(ru), std::string::npos);
  EXPECT_NE(Pesolan(weight, "2>&1", "LC_MESSAGES=ru_RU.UTF-8 LANG=en_US.UTF-8").out.find(ru), std::string::npos);
  EXPECT_NE(Pesolan(weight, "2>&1", "LC_ALL=C LANG=ru_RU.UTF-8").out.find(en), std::string::npos) << "LC_ALL first";
  EXPECT_NE(Pesolan("--lang en " + weight, "2>&1", "LANG=ru_RU.UTF-8").out.find(en), std::string::npos);
  const Outcome traced = Pesolan("--lang ru " + weight + " --trace");
  EXPECT_NE(traced.out.find(ru), std::string::npos) << traced.out;
  EXPECT_NE(traced.out.find("\nerror 106: " + Message(106) + "\n"), std::string::npos) << traced.out;
  EXPECT_NE(traced.out.find(" no reply within 300 ms"), std::string::npos) << "the trace in English: " << traced.out;
  EXPECT_NE(Pesolan("--lang ru find " + Tcp(silent)).out.find(" весов нет: error 106: от весов ничего не пришло"),
            std::string::npos);
  EXPECT_NE(Pesolan("--lang ru " + weight + " --watch --count 1").out.find("наблюдение: чтений 1, весов 0, ошибок: 1 с кодом 106\n"),
            std::string::npos);
  EXPECT_EQ(Pesolan("--lang de " + weight).out, "pesolan: --lang is ru or en (pesolan --help shows the usage)\n");
}

TEST(Cli, TheUnitIsTheScalesOwnWhenNoneIsChosen) {
  SimProcess grams({"--tcp", "--mode", "request", "--weight", "1500", "--unit", "g"});
  SimProcess tonnes({"--tcp", "--weight", "2.5", "--unit", "t"});
  EXPECT_EQ(Pesolan("weight " + Tcp(grams)).out, "1500 g\n") << "not the same as 1500 kg";
  EXPECT_EQ(Pesolan("weight " + Tcp(tonnes)).out, "2.5 t\n");
  EXPECT_EQ(Pesolan("weight " + Tcp(tonnes) + " --unit 3").out, "2500 kg\n");
}

TEST(Cli, DeviceTestReportAndDocuments) {
  SimProcess sim({"--tcp"});
  Outcome r = Pesolan("--locale ru_RU.UTF-8 test " + Tcp(sim) + " --unit 3");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Вес равен 12,345 кг.\n");
  r = Pesolan("actions");
  EXPECT_EQ(r.out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Actions>  </Actions>\n");
}

// Each wrong command line is one line on stderr that names the problem and
// points to --help; numbers never wrap into another port.
TEST(Cli, AWrongCommandLineIsOneLineThatNamesTheProblem) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"weight", "choose a channel: --tcp HOST:PORT or --com N"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"weight --tcp nohost", "--tcp needs HOST:PORT, not 'nohost'"},
      {"weight --tcp 127.0.0.1:4294987600", "--tcp '127.0.0.1:4294987600': the port must be a whole number from 1 to 65535"},
      {"weight --tcp 127.0.0.1:0", "--tcp '127.0.0.1:0': the port must be a whole number from 1 to 65535"},
      {"weight --com 4294967361", "--com needs a whole number from 1 to 256"},
      {"weight --com 0", "--com needs a whole number from 1 to 256"},
      {"weight --com 65 --tcp 127.0.0.1:4000", "choose one channel: --com N or --tcp HOST:PORT, not both"},
      {"weight --com 65 --count 3", "--count and --interval apply with --watch"},
      {"weight --com 65 --watch --interval -5", "--interval needs a whole number from 1 to 86400000"},
      {"--locale xx_YY describe", "--locale 'xx_YY': the system has no such locale"},
      {"weight --com", "--com needs a value"},
      {"weight --tcp 127.0.0.1:1 --unit 5", "--unit needs a whole number from 0 to 4"},
      {"weight --tcp 127.0.0.1:1 --attrs 1", "--attrs applies to a serial channel (--com N)"},
      {"ports --ask", "--ask applies to find"},
      {"find --ask --tcp 127.0.0.1:4000", "--ask asks serial ports, and find --tcp looks at the addresses alone"},
      {"weight --tcp 127.0.0.1:1 --frobnicate", "unknown option '--frobnicate'"},
      // Each option means one thing, for the commands it applies to.
      {"describe --unit 3", "--unit applies to weight and test"},
      {"ports --allow-unstable", "--allow-unstable applies to weight and test"},
      {"settings --trace", "--trace applies to weight, test and find"},
      {"weight --com 65 --com 66", "--com is given twice"},
      {"weight --tcp 127.0.0.1:1 --unit 2 --unit 3", "--unit is given twice"},
      {"weight --tcp=127.0.0.1:1 --unit=2 --unit=3", "--unit is given twice"},
      {"weight --tcp 127.0.0.1:1 --watch=yes", "--watch takes no value"},
      // What the terminal is given is shown, never obeyed; a host is ASCII.
      {"weight --tcp 127.0.0.1:1 --\x1b[2J", "unknown option '--\\x1b[2J'"},
      {"weight --tcp весы.local:4000", "--tcp takes a host in plain ASCII letters, digits, dots and dashes"},
  };
  for (const auto& c : cases) {
    // Were the check to let one through, COM65 must be the private /dev's.
    if (c.first.find("--com 65") != std::string::npos && !testing_support::InPrivateDev()) continue;
    const Outcome r = Pesolan(c.first, "2>&1 >/dev/null");
    EXPECT_EQ(r.status, 2) << c.first;
    EXPECT_EQ(r.out, "pesolan: " + c.second + " (pesolan --help shows the usage)\n") << c.first;
  }
  // Hosts that are numbers in another form than four decimal ones name no
  // scale; tried where nothing could leave the machine had it gone wrong.
  const std::string numbers = testing_support::Offline([] {
    std::string said;
    for (const char* host : {"127.1", "2130706433", "0127.0.0.1.", "0x7f.0.0.1"}) {
      said += Pesolan("weight --tcp " + std::string(host) + ":4000", "2>&1 >/dev/null").out;
    }
    return said;
  });
  if (numbers != testing_support::kNotOffline) {
    const std::string no = " is no IPv4 address: four numbers from 0 to 255, such as 192.168.1.10 (pesolan --help shows the usage)\n";
    EXPECT_EQ(numbers, "pesolan: --tcp '127.1:4000': 127.1" + no + "pesolan: --tcp '2130706433:4000': 2130706433" + no +
                           "pesolan: --tcp '0127.0.0.1.:4000': 0127.0.0.1." + no +
                           "pesolan: --tcp '0x7f.0.0.1:4000': 0x7f.0.0.1" + no);
  }
  // A host is letters, digits, dots and dashes: nothing else reaches the
  // name service.
  const std::string hosts = testing_support::Offline([] {
    std::string said;
    for (const char* target : {"'[::1]:4000'", "127.0.0.1:20304:5", "'scale one:4000'"}) {
      for (const char* command : {"weight --tcp ", "find --tcp "}) {
        const Outcome r = Pesolan(command + std::string(target), "2>&1 >/dev/null");
        said += std::to_string(r.status) + " " + r.out;
      }
    }
    return said;
  });
  const std::string plain = "2 pesolan: --tcp takes a host in plain ASCII letters, digits, dots and dashes, not '";
  const std::string usage = "' (pesolan --help shows the usage)\n";
  if (hosts != testing_support::kNotOffline) {
    EXPECT_EQ(hosts, plain + "[::1]:4000" + usage + plain + "[::1]:4000" + usage + plain + "127.0.0.1:20304:5" +
                         usage + plain + "127.0.0.1:20304:5" + usage + plain + "scale one:4000" + usage + plain +
                         "scale one:4000" + usage);
  }
  // Help wins wherever it stands; alone, or as "help", it is the usage.
  for (const char* asked : {"-h --bogus", "--bogus -h", "weight --com 0 --help", "", "help", "help weight"}) {
    const Outcome help = Pesolan(asked, "2>&1");
    EXPECT_EQ(help.status, 0) << asked;
    EXPECT_EQ(help.out.rfind("usage: pesolan", 0), 0u) << asked << ": " << help.out;
  }
  const Outcome bare = testing_support::Shell(std::string(PESOLAN_PATH) + " 2>&1");
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(bare.out.rfind("usage: pesolan", 0), 0u) << bare.out;
  const Outcome json = Pesolan("--json --help", "2>/dev/null");
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out.rfind("{\"schema\":1,\"ok\":true,\"usage\":\"usage: pesolan", 0), 0u) << json.out;
  EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << "one JSON line";
}

TEST(Cli, WeightsArePrintedExactlyAsTheLibraryReturnsThem) {
  SimProcess large({"--tcp", "--weight", "9999999"});
  SimProcess fine({"--tcp", "--mode", "request", "--line", "ST,GS, 1234.567kg"});
  SimProcess negative({"--tcp", "--weight", "-0.5"});
  SimProcess cut({"--tcp", "--line", "ST,GS, 1234.5678g"});  // more decimals than the scale-sim's field takes
  EXPECT_EQ(Pesolan("weight " + Tcp(cut) + " --unit 3").out, "1.234 kg\n") << "cut, not rounded";
  EXPECT_EQ(Pesolan("weight " + Tcp(large)).out, "9999999 kg\n") << "not 1e+07";
  EXPECT_EQ(Pesolan("weight " + Tcp(fine)).out, "1234.567 kg\n") << "not 1234.57";
  EXPECT_EQ(Pesolan("weight " + Tcp(fine) + " --unit 2").out, "1234567 g\n");
  EXPECT_EQ(Pesolan("weight " + Tcp(negative)).out, "-0.5 kg\n");
  // Three decimals at most, as on the scale too.
  SimProcess tiny({"--tcp", "--line", "ST,GS,  0.0005kg"});
  EXPECT_EQ(Pesolan("weight " + Tcp(tiny)).out, "0 kg\n");
  EXPECT_EQ(Pesolan("weight " + Tcp(tiny) + " --unit 1").out, "500 mg\n");
  EXPECT_EQ(Clockless(Pesolan("--json weight " + Tcp(large)).out),
            "{\"schema\":1,\"ok\":true,\"weight\":9999999,\"unit\":\"kg\",\"unit_option\":0,\"stable\":true}\n");
  EXPECT_EQ(Clockless(Pesolan("--json weight " + Tcp(fine)).out),
            "{\"schema\":1,\"ok\":true,\"weight\":1234.567,\"unit\":\"kg\",\"unit_option\":0,\"stable\":true}\n");
}

TEST(Cli, HelpGoesToStdoutAndWithJsonEveryErrorIsAnObject) {
  const Outcome help = Pesolan("--help", "2>/dev/null");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: pesolan", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("ports [--all]"), std::string::npos);
  EXPECT_NE(help.out.find("find [--ask] [--trace] | find --tcp HOST:PORT... [--trace]"), std::string::npos);
  EXPECT_NE(help.out.find("or the output\n             could not be written"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("(SIGPIPE) ends it as the signal does (129, 143, 141"), std::string::npos) << help.out;
  EXPECT_EQ(Pesolan("--json help", "2>/dev/null").out.rfind("{\"schema\":1,\"ok\":true,\"usage\":\"usage: pesolan", 0), 0u);

  Outcome r = Pesolan("--json frobnicate", "2>/dev/null");
  EXPECT_EQ(r.status, 2);
  const std::string usage = "\",\"cause\":\"the command line is not one pesolan takes\",\"next\":\"pesolan --help shows the usage\"}\n";
  EXPECT_EQ(r.out, "{\"schema\":1,\"ok\":false,\"code\":0,\"message\":\"unknown command 'frobnicate'" + usage);
  r = Pesolan("--json weight --tcp 127.0.0.1:1 --unit 9", "2>/dev/null");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "{\"schema\":1,\"ok\":false,\"code\":0,\"message\":\"--unit needs a whole number from 0 to 4" + usage);
  r = {-1, ""};
  const std::string command = std::string(PESOLAN_PATH) + " --json --lib /nonexistent/libPesolan.so describe";
  FILE* p = popen(command.c_str(), "r");
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
  EXPECT_EQ(WEXITSTATUS(pclose(p)), 3);
  EXPECT_EQ(std::string(line).rfind("{\"schema\":1,\"ok\":false,\"code\":0,\"message\":\"the library /nonexistent/libPesolan.so "
                                    "does not load\",\"cause\":\"/nonexistent/libPesolan.so: cannot open", 0), 0u)
      << line;
}

// A library that does not load is explained: where pesolan looked, and a
// library of the other width in words. The package's name for it is found
// one folder up, as the tools unpacked beside the package have it.
TEST(Cli, ALibraryThatDoesNotLoadSaysWhereItLookedAndWhy) {
  using testing_support::Shell;
  char dir[] = "/tmp/pesolan-cli-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string top = dir, program = top + "/tools/pesolan", other = top + "/other.so";
  const std::string packaged = top + (sizeof(void*) == 8 ? "/libPesolan-linux-x86_64.so" : "/libPesolan-linux-x86.so");
  ASSERT_EQ(Shell("mkdir " + top + "/tools && cp " + PESOLAN_PATH + " " + program + " && cp " +
                  PESOLAN_LIBRARY_PATH + " " + packaged).status, 0);
  const Outcome found = Shell(program + " --version");
  EXPECT_EQ(found.status, 0) << found.out;
  EXPECT_NE(found.out.find("library: " + packaged + "\n"), std::string::npos) << found.out;
  std::remove(packaged.c_str());
  const Outcome missing = Shell("LD_LIBRARY_PATH= " + program + " describe 2>&1");
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.out.find("pesolan: the library libPesolan.so does not load: "), std::string::npos) << missing.out;
  EXPECT_NE(missing.out.find("; pesolan looked for libPesolan.so or libPesolan-linux-x86"), std::string::npos);
  EXPECT_NE(missing.out.find(" beside itself and one and two folders up, then where the system looks for "
                             "libraries; name it with --lib PATH"), std::string::npos) << missing.out;
  // The header of the other width is enough for the loader to refuse it.
  std::ofstream(other, std::ios::binary) << std::string("\x7f" "ELF") << char(sizeof(void*) == 8 ? 1 : 2)
                                         << std::string("\x01\x01", 2) << std::string(57, '\0');
  const Outcome wide = Shell(std::string(PESOLAN_PATH) + " --lib " + other + " describe 2>&1");
  EXPECT_EQ(wide.status, 3);
  EXPECT_NE(wide.out.find(sizeof(void*) == 8 ? "wrong ELF class: ELFCLASS32: this program is 64-bit and takes the "
                                               "64-bit library (x86_64), not the 32-bit one"
                                             : "wrong ELF class: ELFCLASS64: this program is 32-bit and takes the "
                                               "32-bit library (x86, i386), not the 64-bit one"),
            std::string::npos) << wide.out;
  EXPECT_NE(wide.out.find("; check the path given with --lib"), std::string::npos) << wide.out;
  Shell("rm -rf " + top);
}

TEST(Cli, VersionIsTheSameInTheProgramTheLibraryAndItsDescription) {
  const Outcome r = Pesolan("--version", "2>/dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("pesolan ") + PESOLAN_VERSION + "\nlibrary: " + PESOLAN_LIBRARY_PATH +
                       "\ndriver version: " + PESOLAN_VERSION + "\n");
  // The library found beside the build tree's program, by a clean path.
  FILE* p = popen((std::string(PESOLAN_PATH) + " --version").c_str(), "r");
  char first[512] = {}, second[512] = {};
  ASSERT_NE(p, nullptr);
  ASSERT_NE(std::fgets(first, sizeof first, p), nullptr);
  ASSERT_NE(std::fgets(second, sizeof second, p), nullptr);
  pclose(p);
  char* real = realpath(PESOLAN_LIBRARY_PATH, nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(std::string(second), "library: " + std::string(real) + "\n");
  std::free(real);
  std::ifstream library(PESOLAN_LIBRARY_PATH, std::ios::binary);
  std::stringstream bytes;
  bytes << library.rdbuf();
  EXPECT_NE(bytes.str().find(std::string("Pesolan driver version ") + PESOLAN_VERSION + '\0'), std::string::npos)
      << "the library file carries its version";
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

TEST(Cli, CtrlCLetsTheReadingEndKeepingItsTraceAndNoSignalLeavesTheTraceFileBehind) {
  char dir[] = "/tmp/pesolan-cli-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string heard = std::string(dir) + "-heard";
  SimProcess silent({"--tcp", "--mode", "silent", "--received", heard});
  // A silent scale: each reading spends more than a second waiting. A first
  // reading sends ENQ, then ENQ DC1; the second's ENQ shows it under way,
  // with most of a second still to wait. Ctrl+C lets it end, within its own
  // limits, and its trace is kept; a second Ctrl+C ends it at once.
  const std::string traced = std::string(dir) + "-trace.log";
  for (const bool twice : {false, true}) {
    std::remove(heard.c_str());
    const pid_t reading = StartPesolan("weight " + Tcp(silent) + " --watch", dir, "PESOLAN_TRACE=" + traced);
    ASSERT_TRUE(FileHolds(heard, "\x05", 3)) << "the second reading's ENQ";
    ASSERT_EQ(ReadingsTraced(traced), 1);
    kill(reading, SIGINT);
    if (twice) {
      usleep(200000);  // two signals sent at once may arrive as one
      kill(reading, SIGINT);
    }
    int status = 0;
    testing_support::Stopwatch watch;
    ASSERT_EQ(waitpid(reading, &status, 0), reading);
    EXPECT_LT(watch.ms(), 5000);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    if (twice) {
      EXPECT_EQ(ReadingsTraced(traced), 1) << "the second Ctrl+C did not wait for the reading";
    } else {
      EXPECT_GE(watch.ms(), 200) << "the reading went on to its end";
      EXPECT_EQ(ReadingsTraced(traced), 2) << "the interrupted reading's trace is kept";
    }
    std::remove(traced.c_str());
  }
  std::remove(heard.c_str());
  int status = 0;

  // Between readings too: a long --interval is not slept out.
  SimProcess streaming({"--tcp"});
  const pid_t waiting = StartPesolan("weight " + Tcp(streaming) + " --trace --watch --interval 10000", dir);
  ASSERT_TRUE(TraceFileAppears(dir));
  ASSERT_TRUE(FileHolds(OnlyFile(dir), "result: 12.345")) << "the first reading is done, the interval under way";
  testing_support::Stopwatch between;
  kill(waiting, SIGINT);
  ASSERT_EQ(waitpid(waiting, &status, 0), waiting);
  EXPECT_LT(between.ms(), 5000) << "the interval of 10 s is not waited for";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130);
  EXPECT_TRUE(Empty(dir)) << "after SIGINT";

  // SIGTERM, and a hang-up (an SSH session dropped), end it as the signal does.
  for (const int sig : {SIGTERM, SIGHUP}) {
    const pid_t ended = StartPesolan("weight " + Tcp(silent) + " --trace --watch", dir);
    ASSERT_TRUE(TraceFileAppears(dir));
    kill(ended, sig);
    ASSERT_EQ(waitpid(ended, &status, 0), ended);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    EXPECT_TRUE(Empty(dir)) << "after signal " << sig;
  }

  // With --json an interrupted run still says so in one JSON object, and a
  // watch's summary follows: what it read before.
  const std::string printed = std::string(dir) + "-out.json";
  std::remove(heard.c_str());
  const pid_t json = StartPesolan("--json weight " + Tcp(silent) + " --watch", dir, "", printed);
  ASSERT_TRUE(FileHolds(heard, "\x05", 3)) << "the second reading's ENQ";
  kill(json, SIGINT);
  ASSERT_EQ(waitpid(json, &status, 0), json);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130);
  const std::string objects = FileText(printed);
  std::remove(printed.c_str());
  std::remove(heard.c_str());
  const std::string interrupted = "\n{\"schema\":1,\"ok\":false,\"code\":0,\"message\":\"interrupted\",\"cause\":\"Ctrl+C\","
                                  "\"next\":\"\"}\n{\"schema\":1,\"ok\":false,\"code\":106,";
  const std::string summary = ",\"summary\":{\"readings\":2,\"weights\":0,\"failures\":{\"106\":2}}}\n";
  EXPECT_NE(objects.find(interrupted), std::string::npos) << objects;
  ASSERT_GE(objects.size(), summary.size()) << objects;
  EXPECT_EQ(objects.substr(objects.size() - summary.size()), summary) << objects;

  const std::string command = "env TMPDIR=" + std::string(dir) + " " + PESOLAN_PATH + " --lib " +
                              PESOLAN_LIBRARY_PATH + " weight " + Tcp(streaming) +
                              " --trace --watch --interval 10 2>/dev/null | head -c 1 >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(Empty(dir)) << "after SIGPIPE";
  rmdir(dir);

  // Output that nowhere takes is a failure, not a success.
  struct stat full{};
  ASSERT_TRUE(stat("/dev/full", &full) == 0 && S_ISCHR(full.st_mode)) << "the private /dev has it too";
  const Outcome refused = Pesolan("weight " + Tcp(streaming) + " --watch --count 2 --interval 1", "2>&1 >/dev/full");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "pesolan: cannot write the output: No space left on device\n");
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

  // As a user who may not open the node: a group that may read and write
  // it is the one to join; with none (and root's is none), a udev rule.
  auto asNobody = [] {
    FILE* p = popen(("setpriv --reuid=65534 --regid=65534 --clear-groups " + std::string(PESOLAN_PATH) +
                     " --lang en ports 2>&1").c_str(), "r");
    std::string out;
    for (char line[1024]; p != nullptr && std::fgets(line, sizeof line, p) != nullptr;) out += line;
    EXPECT_TRUE(p != nullptr && WEXITSTATUS(pclose(p)) == 0) << out;
    return PortLine(out, 65);
  };
  constexpr gid_t kDialout = 20;
  const group* dialout = getgrgid(kDialout);
  const std::string name = dialout != nullptr ? dialout->gr_name : std::to_string(kDialout);
  ASSERT_EQ(chown("/dev/ttyUSB0", 0, kDialout), 0);
  ASSERT_EQ(chmod("/dev/ttyUSB0", 0660), 0);
  EXPECT_NE(asNobody().find("no permission: the node belongs to group '" + name + "' (mode 0660): add the user to it"),
            std::string::npos);
  ASSERT_EQ(chown("/dev/ttyUSB0", 0, 0), 0);
  EXPECT_NE(asNobody().find("no permission: the node's mode is 0660 and its group 'root': joining a group does not "
                            "help; a udev rule can give it one, such as KERNEL==\"ttyUSB0\", GROUP=\"dialout\""),
            std::string::npos);
  ASSERT_EQ(chown("/dev/ttyUSB0", 0, kDialout), 0);
  ASSERT_EQ(chmod("/dev/ttyUSB0", 0600), 0);
  EXPECT_NE(asNobody().find("no permission: the node's mode is 0600 and its group '" + name + "'"), std::string::npos);

  r = Pesolan("--json ports");
  // (In the test machine sysfs knows an adapter there: its identity follows.)
  EXPECT_NE(r.out.find("{\"com\":65,\"device\":\"/dev/ttyUSB0\",\"state\":\"free\""), std::string::npos)
      << r.out;
}

// The USB adapter behind a port, from a sysfs tree the test puts in place
// of the kernel's tty class (in a mount namespace of its own).
TEST(CliPorts, AUsbAdapterIsNamedFromSysfs) {
  REQUIRE_PRIVATE_DEV();
  SimProcess sim({"--pty"});
  testing_support::PlacedPty placed(sim.ptyPath());  // COM65
  ASSERT_TRUE(placed.ok());
  char made[] = "/tmp/pesolan-sysfs.XXXXXX";
  ASSERT_NE(mkdtemp(made), nullptr);
  const std::string tree = made, usb = tree + "/usb1/1-1";
  ASSERT_EQ(std::system(("mkdir -p " + usb + "/1-1:1.0/ttyUSB0").c_str()), 0);
  for (const auto& f : std::vector<std::pair<std::string, std::string>>{
           {"idVendor", "1a86"}, {"idProduct", "7523"}, {"product", "USB Serial"}, {"serial", "42"}}) {
    std::ofstream(usb + "/" + f.first) << f.second << "\n";
  }
  const std::string pesolan = std::string(PESOLAN_PATH) + " --lang en --lib " + PESOLAN_LIBRARY_PATH;
  const std::string script = "mount -t tmpfs none /sys/class/tty && mkdir /sys/class/tty/ttyUSB0 && ln -s " + usb +
                             "/1-1:1.0/ttyUSB0 /sys/class/tty/ttyUSB0/device && " + pesolan + " ports && " + pesolan +
                             " --json ports";
  FILE* p = popen(("unshare -m sh -c '" + script + "' 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  for (char line[1024]; std::fgets(line, sizeof line, p) != nullptr;) out += line;
  EXPECT_EQ(WEXITSTATUS(pclose(p)), 0) << out;
  std::system(("rm -rf " + tree).c_str());
  EXPECT_NE(PortLine(out, 65).find("free; USB 1a86:7523 USB Serial, serial 42"), std::string::npos) << out;
  EXPECT_NE(out.find("\"identity\":{\"kind\":\"usb\",\"vendor_id\":\"1a86\",\"product_id\":\"7523\""),
            std::string::npos)
      << out;
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
  prctl(PR_SET_NAME, "весы\x1b]0;x\x07");
  const int holder = open("/dev/ttyUSB0", O_RDWR | O_NOCTTY);
  const Outcome r = Pesolan("ports");
  const Outcome refused = Pesolan("weight --com 65");  // the name, through the library's trace
  close(holder);
  prctl(PR_SET_NAME, ownName);
  ASSERT_GE(holder, 0);
  const std::string shown = "весы\\x1b]0;x\\x07 (pid " + std::to_string(getpid()) + ")";
  EXPECT_NE(PortLine(r.out, 65).find("in use: " + shown), std::string::npos) << r.out;
  EXPECT_NE(refused.out.find("held by another program: " + shown), std::string::npos) << refused.out;
  EXPECT_EQ((r.out + refused.out).find('\x1b'), std::string::npos) << "no escape sequence reaches the terminal";
}

// ---- find ---------------------------------------------------------------------

// The files each scale-sim writes what it received to, in a folder of the test's.
struct Received {
  Received() {
    char made[] = "/tmp/pesolan-find-test.XXXXXX";
    if (mkdtemp(made) != nullptr) dir = made;
  }
  ~Received() {
    for (const std::string& f : files) std::remove(f.c_str());
    rmdir(dir.c_str());
  }
  std::string File(const std::string& name) {
    files.push_back(dir + "/" + name);
    return files.back();
  }
  std::string dir;
  std::vector<std::string> files;
};

TEST(CliFind, EveryPortIsToldAndNothingIsSentUnlessAsked) {
  REQUIRE_PRIVATE_DEV();
  Received received;
  SimProcess stream({"--pty", "--received", received.File("stream")});
  SimProcess request({"--pty", "--mode", "request", "--weight", "1500", "--unit", "g", "--received",
                      received.File("request")});
  SimProcess silent({"--pty", "--mode", "silent", "--received", received.File("silent")});
  SimProcess junk({"--pty", "--mode", "junk-long", "--received", received.File("junk")});
  SimProcess held({"--pty", "--received", received.File("held")});
  using testing_support::PlacedPty;
  const PlacedPty ports[] = {PlacedPty(stream.ptyPath(), 65), PlacedPty(request.ptyPath(), 66),
                             PlacedPty(silent.ptyPath(), 67), PlacedPty(junk.ptyPath(), 68),
                             PlacedPty(held.ptyPath(), 69)};
  for (const auto& p : ports) ASSERT_TRUE(p.ok());
  const int holder = open("/dev/ttyUSB4", O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);

  testing_support::Stopwatch watch;
  Outcome r = Pesolan("find");
  // Each port is listened to for 1.5 s per line setting: at once they take
  // 3 s; one after another at least 7.5 s (a silent and a junk port both
  // settings long, and a port that refuses 7E1 one).
  EXPECT_LT(watch.ms(), 7000) << "every port listened to at once, not one after another";
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(PortLine(r.out, 65).find("stream scale: 12.345 kg stable, clean weight lines with --attrs 0"),
            std::string::npos)
      << r.out;
  EXPECT_NE(PortLine(r.out, 66).find("silent (nothing sent to it"), std::string::npos) << r.out;
  EXPECT_NE(PortLine(r.out, 67).find("silent"), std::string::npos) << r.out;
  EXPECT_NE(PortLine(r.out, 67).find("the port refuses --attrs 1"), std::string::npos) << "a pty takes no 7E1";
  EXPECT_NE(PortLine(r.out, 68).find("bytes that are no weight lines with --attrs 0 (9600 8N1): 3F 3F 20"),
            std::string::npos)
      << r.out;
  EXPECT_NE(PortLine(r.out, 69).find("in use: "), std::string::npos) << r.out;
  EXPECT_NE(PortLine(r.out, 69).find("(pid " + std::to_string(getpid()) + ")"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("For the platform:\n  Prm_Connect = 0, Prm_RsPort = 65, Prm_ConnAttrs = 0\n"),
            std::string::npos)
      << r.out;
  for (const std::string& f : received.files) EXPECT_EQ(FileText(f), "") << f << ": find sent it something";

  r = Pesolan("find --ask");
  EXPECT_NE(PortLine(r.out, 66).find("request scale (ENQ, then DC1): 1500 g stable, with --attrs 0"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Prm_Connect = 0, Prm_RsPort = 66, Prm_ConnAttrs = 0"), std::string::npos) << r.out;
  EXPECT_EQ(FileText(received.files[4]), "") << "a held port is never opened, asked or not";

  r = Pesolan("--json find");
  // (In the test machine sysfs knows an adapter there: its identity comes too.)
  EXPECT_EQ(r.out.rfind("{\"schema\":1,\"ok\":true,\"found\":1,\"ports\":[{\"com\":65,\"device\":\"/dev/ttyUSB0\",", 0), 0u)
      << r.out;
  // One shape for a weight, whether heard or read through the driver.
  EXPECT_NE(r.out.find("\"state\":\"stream\",\"attrs\":0,\"way\":\"stream\",\"weight\":12.345,\"unit\":\"kg\","
                       "\"stable\":true}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"parameters\":[{\"Prm_Connect\":0,\"Prm_RsPort\":65,\"Prm_ConnAttrs\":0}]}"),
            std::string::npos)
      << r.out;
  r = Pesolan("--json find --ask");
  EXPECT_NE(r.out.find("{\"com\":66,\"device\":\"/dev/ttyUSB1\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"state\":\"request\",\"attrs\":0,\"way\":\"ENQ, then DC1\",\"weight\":1500,\"unit\":\"g\","
                       "\"stable\":true}"),
            std::string::npos)
      << r.out;
  close(holder);
}

TEST(CliFind, ATcpAddressIsToldAStreamFromARequestScale) {
  REQUIRE_PRIVATE_DEV();
  SimProcess stream({"--tcp"});
  SimProcess request({"--tcp", "--mode", "request"});
  SimProcess together({"--tcp", "--mode", "request", "--enq-reply", "nak"});
  SimProcess moving({"--tcp", "--unstable", "1000000"});
  SimProcess serial({"--pty"});
  testing_support::PlacedPty placed(serial.ptyPath());  // COM65, in the private /dev
  ASSERT_TRUE(placed.ok()) << "a serial scale that find --tcp must leave alone";
  const ClosedTcpPort closedPort;
  const int closed = closedPort.port();
  Outcome r = Pesolan("find " + Tcp(stream) + " " + Tcp(request) + " " + Tcp(together) + " " + Tcp(moving) +
                      " --tcp 127.0.0.1:" + std::to_string(closed));
  EXPECT_EQ(r.status, 0);
  // The line of an address: "127.0.0.1:4000        scale answering by ...".
  auto line = [&](int port) {
    std::istringstream lines(r.out);
    for (std::string l; std::getline(lines, l);) {
      if (l.rfind("127.0.0.1:" + std::to_string(port) + " ", 0) == 0) return l;
    }
    return std::string();
  };
  EXPECT_NE(line(stream.port()).find(" scale answering by stream: 12.345 kg stable"), std::string::npos) << r.out;
  EXPECT_NE(line(request.port()).find(" scale answering by ENQ, then DC1: 12.345 kg stable"), std::string::npos) << r.out;
  EXPECT_NE(line(together.port()).find(" scale answering by ENQ DC1 together: 12.345 kg stable"), std::string::npos)
      << r.out;
  // A scale that moves is found all the same: it is there.
  EXPECT_NE(line(moving.port()).find(" scale answering by stream: 12.345 kg unstable"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Prm_Connect = 1, Prm_IP = \"127.0.0.1\", Prm_TcpPort = " + std::to_string(moving.port())),
            std::string::npos)
      << r.out;
  EXPECT_NE(line(closed).find(" no scale: error 105: cannot connect"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Prm_Connect = 1, Prm_IP = \"127.0.0.1\", Prm_TcpPort = " + std::to_string(request.port())),
            std::string::npos)
      << r.out;

  EXPECT_EQ(r.out.find("COM"), std::string::npos) << "with --tcp no serial port is touched: " << r.out;

  // Each address is said as soon as it is known: the streaming scale's line
  // is out while the silent one is still asked.
  char dir[] = "/tmp/pesolan-cli-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string out = std::string(dir) + "/out";
  SimProcess silent({"--tcp", "--mode", "silent"});
  const pid_t finding = StartPesolan("find " + Tcp(stream) + " " + Tcp(silent), dir, "", out);
  EXPECT_TRUE(FileHolds(out, "127.0.0.1:" + std::to_string(stream.port()) + " ")) << FileText(out);
  int status = 0;
  EXPECT_EQ(waitpid(finding, &status, WNOHANG), 0) << "find is still asking the silent scale: " << FileText(out);
  ASSERT_EQ(waitpid(finding, &status, 0), finding);
  EXPECT_NE(FileText(out).find("127.0.0.1:" + std::to_string(silent.port()) + " "), std::string::npos);
  std::remove(out.c_str());
  rmdir(dir);

  r = Pesolan("--json find " + Tcp(moving));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"tcp\":[{\"address\":\"127.0.0.1:" + std::to_string(moving.port()) +
                       "\",\"state\":\"scale\",\"way\":\"stream\",\"weight\":12.345,\"unit\":\"kg\",\"stable\":false}]"),
            std::string::npos)
      << r.out;

  // A scale streaming too slowly for the driver is found, as too slow, and
  // given no parameters, whichever way its one reading went.
  SimProcess slow({"--tcp", "--interval", "1000"});
  r = Pesolan("--json find " + Tcp(slow));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.out.rfind("{\"schema\":1,\"ok\":false,\"code\":0,\"message\":\"a scale was found, but it streams too "
                        "slowly for the driver\",\"cause\":\"the scale streams a line about every ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"state\":\"too slow\",\"line_interval_ms\":"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"parameters\":[]}"), std::string::npos) << r.out;

  r = Pesolan("find --tcp 127.0.0.1:" + std::to_string(closed));
  EXPECT_EQ(r.status, 1) << "no scale found";
  EXPECT_NE(r.out.find("no scale found"), std::string::npos) << r.out;
}

// ---- the trace ----------------------------------------------------------------

struct Event {
  unsigned ms;
  std::string what;
};

// The events of a --trace: "127.0.0.1:4000 +200 ms sent 1 byte: <ENQ>".
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
      // Bytes received bear the time they came, which may be before the
      // event traced ahead of them.
      if (want.rfind("recv ", 0) != 0) {
        EXPECT_GE(events[next].ms, last) << want;
        last = events[next].ms;
      }
      ++next;
    }
  }
  return at;
}

TEST(CliTrace, StreamReading) {
  SimProcess sim({"--tcp"});
  const Outcome r = Pesolan("weight " + Tcp(sim) + " --trace", "2>&1 >/dev/null");
  // One event per arrival: a line that came whole is one event.
  const auto at = InOrder(Events(r.out), {"connected to 127.0.0.1", "reading begins", "way: stream",
                                          "recv 18 bytes: ST,GS,  12.345kg<CR><LF>", "parsed: stable 12.345 kg",
                                          "result: 12.345, error 0"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
  EXPECT_GE(at[2] - at[1], 80 - 2) << "the purge waits at least 80 ms before it looks for a stream";
  EXPECT_LT(at[5], 3000) << r.out;
  EXPECT_EQ(r.out.find(" LF\n"), std::string::npos) << "no event per byte: " << r.out;

  // Bytes that are not printable are named or given in hex, and so is '<'.
  SimProcess odd({"--tcp", "--line", "A<\x01\xb1 1 kg"});
  const Outcome junk = Pesolan("weight " + Tcp(odd) + " --trace", "2>&1 >/dev/null");
  EXPECT_NE(junk.out.find(" bytes: A<3C><01><B1> 1 kg<CR><LF>"), std::string::npos) << junk.out;
}

TEST(CliTrace, RequestReadingAndTheFallback) {
  SimProcess sim({"--tcp", "--mode", "request"});
  Outcome r = Pesolan("weight " + Tcp(sim) + " --trace", "2>&1 >/dev/null");
  auto at = InOrder(Events(r.out), {"reading begins", "way: ENQ, then DC1", "sent 1 byte: <ENQ>", "recv 1 byte: <ACK>",
                                    "reply of 1 byte", "sent 1 byte: <DC1>", "recv 18 bytes: ST,GS,  12.345kg<CR><LF>",
                                    "reply of 18 bytes", "parsed: stable 12.345 kg", "result: 12.345, error 0"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
  EXPECT_GE(at[2], 200 - 2) << "after the purge's 200 ms";
  EXPECT_GE(at[5] - at[2], 168 + 80 - 2) << "the pause after ENQ and the silence after ACK";
  // The answer is stamped when it came, during the pause after the send,
  // not when the pause ended.
  EXPECT_LT(at[3] - at[2], 168) << r.out;
  EXPECT_LT(at[6] - at[5], 168) << r.out;

  SimProcess nak({"--tcp", "--mode", "request", "--enq-reply", "nak"});
  r = Pesolan("weight " + Tcp(nak) + " --trace", "2>&1 >/dev/null");
  at = InOrder(Events(r.out), {"way: ENQ, then DC1", "sent 1 byte: <ENQ>", "recv 1 byte: <NAK>", "no lone ACK to ENQ",
                               "way: ENQ DC1 together", "sent 2 bytes: <ENQ><DC1>", "parsed: stable",
                               "result: 12.345, error 0"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
}

TEST(CliTrace, SilentScaleShowsEachWaitRunningOut) {
  SimProcess silent({"--tcp", "--mode", "silent"});
  const Outcome r = Pesolan("weight " + Tcp(silent) + " --trace", "2>&1 >/dev/null");
  const auto at = InOrder(Events(r.out), {"reading begins", "way: ENQ, then DC1", "sent 1 byte: <ENQ>",
                                          "no reply within 300 ms", "no lone ACK", "way: ENQ DC1 together",
                                          "no reply within 300 ms", "result: no weight, error 106"});
  for (long t : at) EXPECT_GE(t, 0) << r.out;
  EXPECT_GE(at[3] - at[2], 168 + 300 - 2);
  EXPECT_GE(at[7], 2 * (168 + 300) + 200 - 2);
}

TEST(CliTrace, TheLibraryWritesTheFileNamedByTheVariable) {
  SimProcess sim({"--tcp", "--mode", "request"});
  char dir[] = "/tmp/pesolan-trace-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/trace.log";
  Outcome r = Pesolan("weight " + Tcp(sim), "2>&1", "PESOLAN_TRACE=" + file);
  EXPECT_EQ(r.out, "12.345 kg\n") << "nothing of the trace on the console";
  {
    testing_support::OpenCounter opens({file});
    ASSERT_TRUE(opens.ok());
    // In the unit chosen, pesolan needs nothing from the trace to print the weight.
    ASSERT_EQ(Pesolan("weight " + Tcp(sim) + " --unit 3", "2>&1", "PESOLAN_TRACE=" + file).out, "12.345 kg\n");
    EXPECT_EQ(opens.TakeTotal(), 2) << "once for the open, once for the reading";
  }
  std::ifstream written(file);
  std::stringstream lines;
  lines << written.rdbuf();
  const std::string port = "127.0.0.1:" + std::to_string(sim.port());
  // "2026-12-07 15:30:01.123 127.0.0.1:4000 +200 ms sent 1 byte: <ENQ>"
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

  std::remove(file.c_str());
  rmdir(dir);
}

// A trace variable may name anything: nothing but a regular file is ever
// opened, and the reading neither waits for it nor changes. pesolan says
// it ignored the variable, and keeps a trace of its own: the unit is
// known, and --trace shows the dialogue.
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
  ASSERT_EQ(Pesolan("weight " + Tcp(sim)).out, "12.345 kg\n");
  const long normal = plain.ms();
  for (const std::string& path : {fifo, link, std::string(dir), std::string(dir) + "/missing/trace.log"}) {
    testing_support::Stopwatch watch;
    // timeout: a library that waits for a reader of the FIFO would hang here.
    const Outcome r = Pesolan("weight " + Tcp(sim) + " --trace", "2>&1", "PESOLAN_TRACE=" + path + " timeout 30");
    EXPECT_EQ(r.status, 0) << path;
    EXPECT_EQ(r.out.rfind("pesolan: PESOLAN_TRACE is ignored: " + path + " cannot take the trace (", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" ms result: 12.345, error 0\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 10), "12.345 kg\n") << r.out;
    EXPECT_LT(watch.ms(), normal + 5000) << path;
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
  ASSERT_EQ(Pesolan("weight " + Tcp(sim), "2>&1", env).out, "12.345 kg\n");
  struct stat rolled{}, fresh{};
  ASSERT_EQ(stat(older.c_str(), &rolled), 0);
  EXPECT_EQ(rolled.st_size, static_cast<off_t>(full.size())) << "the full file replaced the older one";
  ASSERT_EQ(stat(file.c_str(), &fresh), 0);
  EXPECT_GT(fresh.st_size, 0);
  EXPECT_LT(fresh.st_size, 64 * 1024) << "the open's and the reading's lines only";
  const off_t first = fresh.st_size;
  ASSERT_EQ(Pesolan("weight " + Tcp(sim), "2>&1", env).out, "12.345 kg\n");
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

  // A setting the port refuses, in words; a port that is silent, with the
  // serial line's own advice.
  r = Pesolan("weight --com 65 --attrs 1");
  EXPECT_EQ(CauseLine(r.out), "cause: the port refuses 9600 baud, 7 data bits, even parity, 1 stop bit") << r.out;
  SimProcess silent({"--pty", "--mode", "silent"});
  testing_support::PlacedPty silentPort(silent.ptyPath(), 67);
  ASSERT_TRUE(silentPort.ok());
  r = Pesolan("weight --com 67");
  EXPECT_NE(r.out.find("\nnext: check the cable (RS-232 to a computer takes a null-modem cable)"), std::string::npos)
      << r.out;

  // A node that is no terminal, a port the user may not open: each its own cause.
  r = Pesolan("weight --com 66");
  EXPECT_EQ(r.out.rfind("error 104: ", 0), 0u) << r.out;
  EXPECT_NE(CauseLine(r.out).find("cannot open COM66 (/dev/ttyUSB1): not a terminal"), std::string::npos) << r.out;
  const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups " + std::string(PESOLAN_PATH) +
                               " --lib " + PESOLAN_LIBRARY_PATH + " weight --com 65 2>&1";
  FILE* p = popen(asNobody.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string forbidden;
  for (char line[512]; std::fgets(line, sizeof line, p) != nullptr;) forbidden += line;
  pclose(p);
  EXPECT_NE(CauseLine(forbidden).find("cannot open COM65 (/dev/ttyUSB0): Permission denied"), std::string::npos)
      << forbidden;
  EXPECT_NE(forbidden.find("\nnext: the user may not open the port: pesolan ports says what would let them"),
            std::string::npos)
      << forbidden;

  // Held by another program: the trace says so (not "Resource temporarily
  // unavailable"), and pesolan names the holder.
  const int holder = open("/dev/ttyUSB0", O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  r = Pesolan("weight --com 65");
  close(holder);
  EXPECT_EQ(r.out.rfind("error 104: ", 0), 0u) << r.out;
  // Without a lock too: on Linux both would read, and steal each other's bytes.
  const int unlocked = open("/dev/ttyUSB0", O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(unlocked, 0);
  const Outcome again = Pesolan("weight --com 65");
  close(unlocked);
  EXPECT_NE(CauseLine(again.out).find("held by another program: addin_tests (pid " + std::to_string(getpid()) + ")"),
            std::string::npos)
      << again.out;
  EXPECT_NE(CauseLine(r.out).find("cannot open COM65 (/dev/ttyUSB0): held by another program: "), std::string::npos)
      << r.out;
  EXPECT_NE(CauseLine(r.out).find("(pid " + std::to_string(getpid()) + ")"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nnext: close the program that holds the port"), std::string::npos) << r.out;
}


}  // namespace

// ---- scale-sim ------------------------------------------------------------------

TEST(CliScaleSim, HelpErrorsRangesAndTheEndOfItsLifetimeAreSaid) {
  const Outcome help = ScaleSim("--help", "2>/dev/null");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: scale-sim", 0), 0u) << "on stdout";
  EXPECT_NE(help.out.find("disconnect, reset,\noff (switched off"), std::string::npos) << help.out;
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"--tcp 70000", "--tcp needs a whole number from 0 to 65535"},
           {"--unit lb", "--unit is kg, g or t"},
           {"--weight abc", "--weight 'abc' is no number the scale shows (a digit first, one point at most)"},
           {"--weight 1234.567", "--weight '1234.567' does not fit the line's eight places with a space before it"},
           {"--weight .5", "--weight '.5' is no number the scale shows (a digit first, one point at most)"},
           {"--interval", "--interval needs a value"},
           {"--bogus", "unknown option '--bogus'"},
           {"--host 999.1.1.1", "--host '999.1.1.1' is no IPv4 address (four numbers from 0 to 255)"},
           {"--weight 1 --weight 2", "--weight is given twice"},
           {"--stop-after 5 --disconnect-after 5", "give --stop-after or --disconnect-after once"},
           {"--lifetime 0", "--lifetime needs a whole number from 1 to 604800"}}) {
    const Outcome r = ScaleSim(c.first, "2>&1 >/dev/null");
    EXPECT_EQ(r.status, 2) << c.first;
    EXPECT_EQ(r.out, "scale-sim: " + c.second + " (scale-sim --help shows the usage)\n") << c.first;
  }
  const Outcome unbound = ScaleSim("--host 192.0.2.1 --lifetime 1", "2>&1 >/dev/null");
  EXPECT_EQ(unbound.status, 1);
  EXPECT_EQ(unbound.out, "scale-sim: cannot listen on 192.0.2.1:0: Cannot assign requested address\n");
  // Each command it cannot take is answered, and said why on stderr; then
  // its lifetime ends.
  const Outcome ended = ScaleSim("--tcp --control --lifetime 1", "2>&1 >/dev/null <<'END'\nweight abc\nunit lb\n"
                                 "frobnicate 3\nweight 2\nEND");
  EXPECT_EQ(ended.status, 0);
  EXPECT_EQ(ended.out,
            "scale-sim: cannot take 'weight abc': weight 'abc' is no number the scale shows (a digit first, one point "
            "at most)\nscale-sim: cannot take 'unit lb': unit is one of: kg g t\n"
            "scale-sim: cannot take 'frobnicate 3': no such command: 'frobnicate'; the commands are weight, unit, "
            "unstable, junk, mode, drip, interval, burst, flood, unread, pack, disconnect, reset, off, on\n"
            "scale-sim: its lifetime of 1 s has ended (--lifetime)\n");
  // Switched off, it closes and refuses connections; switched on, it
  // serves on the same port again.
  SimProcess scale({"--tcp", "--control"});
  ASSERT_EQ(Pesolan("weight " + Tcp(scale)).out, "12.345 kg\n");
  ASSERT_TRUE(scale.Command("off"));
  const Outcome off = Pesolan("weight " + Tcp(scale));
  EXPECT_EQ(off.out.rfind("error 105: ", 0), 0u) << off.out;
  EXPECT_NE(off.out.find("Connection refused"), std::string::npos) << off.out;
  ASSERT_TRUE(scale.Command("on"));
  EXPECT_EQ(Pesolan("weight " + Tcp(scale)).out, "12.345 kg\n");
}

// A program that opens the pseudo-terminal and never reads it fills the
// line; the scale then waits for room instead of spinning.
TEST(CliScaleSim, APseudoTerminalNobodyReadsCostsNoProcessorTime) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    execl(SCALE_SIM_PATH, "scale-sim", "--pty", "--interval", "1", "--lifetime", "3", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char line[256] = {};
  FILE* printed = fdopen(out[0], "r");
  ASSERT_NE(std::fgets(line, sizeof line, printed), nullptr);
  std::string path(line + 4);
  path.pop_back();
  const int slave = open(path.c_str(), O_RDONLY | O_NOCTTY);  // held, never read
  ASSERT_GE(slave, 0) << path;
  int status = 0;
  rusage used{};
  ASSERT_EQ(wait4(pid, &status, 0, &used), pid);
  close(slave);
  std::fclose(printed);
  const double cpu = static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                     static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
  EXPECT_LT(cpu, 1.5) << "seconds of processor time in its 3 s (a scale that spins takes them all)";
}
