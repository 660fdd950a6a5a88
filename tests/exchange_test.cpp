// One weight dialogue with scale-sim: stream mode, request mode with its
// fallback, the byte budget for data that is no weight line, and the error
// code the exchange sets and clears.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "channel/error_codes.h"
#include "protocol/exchange.h"
#include "support/devices.h"
#include "support/text.h"
#include "support/messages.h"

using namespace pesolan;
using namespace testing_support;

namespace {

// Upper bounds are generous: these tests also run in the test machine under
// emulation, eight suites at once. Which way a reading took is read from
// the driver's trace, never told by the clock.
constexpr long kBound = 5000;

struct Scale {
  // Every device frees its slot when it goes, so tests need no reset here
  // (which would drop the open channel of another device of the same test).
  Scale(bool serial, std::vector<std::string> args) {
    args.push_back(serial ? "--pty" : "--tcp");
    sim = std::make_unique<SimProcess>(args);
    if (serial) MapPort(kSimPort, sim->ptyPath());
    connected = Connect(device, serial ? SerialSettings(kSimPort) : TcpSettings(sim->port()));
  }
  ~Scale() { UnmapAllPorts(); }
  DeviceSlot& slot() { return SlotTable[SlotOf(device)]; }
  // One dialogue; its reading is kept for reading().
  bool Exchange() { return ExchangeWeight(device, &last); }
  const WeightReading& reading() const { return last; }

  std::unique_ptr<SimProcess> sim;
  DeviceHandle device;
  // Not zero, so that a reset shows.
  WeightReading last{Stability_Stable, 1, 1, 9.5f, Unit_Tonne};
  bool connected = false;
};

class Exchange : public ::testing::TestWithParam<bool> {
 protected:
  bool serial() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(BothChannels, Exchange, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Serial" : "Tcp"; });

// ---- stream mode ------------------------------------------------------------

TEST_P(Exchange, StreamingScaleGivesItsWeightLine) {
  Scale s(serial(), {"--mode", "stream", "--weight", "-1.25", "--unit", "g"});
  ASSERT_TRUE(s.connected);
  ASSERT_TRUE(s.Exchange());
  EXPECT_EQ(s.reading().stability, Stability_Stable);
  EXPECT_DOUBLE_EQ(s.reading().value, -1.25);
  EXPECT_EQ(s.reading().unit, Unit_Gram);
  EXPECT_EQ(s.reading().decimals, 2);
  EXPECT_EQ(GetError(s.device), NoError);
}

TEST_P(Exchange, SixteenByteLineIsParsed) {
  Scale s(serial(), {"--line", "ST,GS,  12.345kg"});
  ASSERT_TRUE(s.connected);
  ASSERT_TRUE(s.Exchange());
  EXPECT_DOUBLE_EQ(s.reading().value, 12.345);
}

TEST_P(Exchange, FifteenByteLinesAreCountedUntilTheBudgetEndsWithCode8) {
  Scale s(serial(), {"--line", "ST,GS, 12.345kg"});
  ASSERT_TRUE(s.connected);
  EXPECT_FALSE(s.Exchange());
  char message[kMessageSize];
  EXPECT_EQ(GetError(s.device, message), Unknown_Data);
  EXPECT_EQ(Cp1251ToUtf8(message), Message(108));
  EXPECT_EQ(s.reading().unit, 0) << "a failed dialogue leaves the reading reset";
}

TEST_P(Exchange, LongLinesThatNeverParseAreBoundedByTheBudgetToo) {
  Scale s(serial(), {"--mode", "junk-long"});
  ASSERT_TRUE(s.connected);
  const TraceCapture trace;
  Stopwatch watch;
  EXPECT_FALSE(s.Exchange());
  EXPECT_EQ(GetError(s.device), Unknown_Data);
  EXPECT_TRUE(trace.Has("48 bytes without a weight line: unknown data")) << "only the budget ends this: " << trace.Text();
  EXPECT_LT(watch.ms(), kBound) << "the scale keeps streaming";
}

// A line that fails to parse is not parsed again over the next line's first
// bytes: "ST,GS,-1" over the rest of "?? NO WEIGHT 12 lb" would read -112 g.
TEST_P(Exchange, ALineThatFailedIsNeverMixedIntoTheNextOne) {
  // Whether the weight line completes within the 48-byte budget depends on
  // where the stream is joined: a reading may fail, but never be wrong.
  Scale s(serial(), {"--line", "?? NO WEIGHT 12 lb", "--line", "ST,GS,-1580.41kg"});
  ASSERT_TRUE(s.connected);
  int read = 0;
  for (int i = 0; i < 20 && read < 3; ++i) {
    if (!s.Exchange()) continue;
    ++read;
    EXPECT_DOUBLE_EQ(s.reading().value, -1580.41);
    EXPECT_EQ(s.reading().unit, Unit_Kilogram);
  }
  EXPECT_GE(read, 1) << "joined after the junk line, a reading succeeds";
}

// A reply that catches the end of one line and the start of the next (a
// scale that began to stream) is read up to its CR LF: the next line's
// digits are never appended to the number (-1197.031 kg).
TEST_P(Exchange, AReplyEndsAtItsLineEnd) {
  Scale s(serial(), {"--mode", "request", "--line", "S,-1197.03kg\r\nST,G"});
  ASSERT_TRUE(s.connected);
  ASSERT_TRUE(s.Exchange());
  EXPECT_DOUBLE_EQ(s.reading().value, -1197.03);
  // A CR LF before the number ends something earlier, not the reply.
  Scale leading(serial(), {"--mode", "request", "--line", "\r\nST,GS,-1197.03kg"});
  ASSERT_TRUE(leading.connected);
  ASSERT_TRUE(leading.Exchange());
  EXPECT_DOUBLE_EQ(leading.reading().value, -1197.03);
}

// A scale that abandons its reply mid-line and starts another line: the
// second line's stability letter ends the reply, so "ST,GS,  2" and
// "ST,GS,  2569.5kg" never read as 22569 t.
TEST_P(Exchange, AReplyCutShortByAnotherLineIsNoWeight) {
  Scale s(serial(), {"--mode", "request", "--line", "ST,GS,  2ST,GS,  2569.5kg"});
  ASSERT_TRUE(s.connected);
  EXPECT_FALSE(s.Exchange());
  EXPECT_EQ(s.reading().unit, Unit_AsOnScale) << "no reading";
}

TEST_P(Exchange, TwentyByteLineFitsButTwentyOneWrapsAndIsNeverSeen) {
  Scale fits(serial(), {"--line", "ST,GS,      12.345kg"});
  ASSERT_TRUE(fits.connected);
  ASSERT_TRUE(fits.Exchange());
  EXPECT_DOUBLE_EQ(fits.reading().value, 12.345);

  Scale wraps(serial(), {"--line", "ST,GS,       12.345kg"});
  ASSERT_TRUE(wraps.connected);
  EXPECT_FALSE(wraps.Exchange());
  EXPECT_EQ(GetError(wraps.device), Unknown_Data);
}

// A scale that streamed while nobody read: its old lines wait in the
// socket's buffers or the pseudo-terminal, and in its own queue. Then it
// shows a new weight and falls silent, or streams it: a reading fails, or
// gives the new weight, never the old one.
TEST_P(Exchange, LinesThatWaitedWhileNobodyReadAreNeverTheWeight) {
  Scale s(serial(), {"--control", "--weight", "70062", "--unit", "g"});
  ASSERT_TRUE(s.connected);
  const TraceCapture trace;
  int fresh = 0;
  for (int cycle = 0; cycle < 30; ++cycle) {
    ASSERT_TRUE(s.sim->Command("weight 70062"));
    ASSERT_TRUE(s.sim->Command("interval 30"));
    ASSERT_TRUE(s.sim->Command("flood 300"));
    os::Sleep(600);  // nobody reads
    if (cycle % 2 == 0) {
      // The new weight, and no more lines: the queue still goes out.
      ASSERT_TRUE(s.sim->Command("weight 11111"));
      ASSERT_TRUE(s.sim->Command("interval 60000"));
    } else {
      // The queue dropped, the new weight streamed behind what is on the way.
      ASSERT_TRUE(s.sim->Command("mode silent"));
      ASSERT_TRUE(s.sim->Command("weight 11111"));
      ASSERT_TRUE(s.sim->Command("mode stream"));
    }
    trace.Clear();
    const bool read = s.Exchange();
    // The old bytes did reach the reader: thrown away by the purge, or
    // skipped as old.
    const std::string text = trace.Text();
    EXPECT_TRUE(text.find(" bytes thrown away") != std::string::npos || text.find("old line") != std::string::npos)
        << "cycle " << cycle << ": " << text;
    if (!read) continue;
    EXPECT_EQ(s.reading().value, 11111) << "cycle " << cycle;
    fresh += s.reading().value == 11111 ? 1 : 0;
  }
  EXPECT_GE(fresh, 1) << "the new weight that follows a backlog is read";
}

// A live scale behind what real installations put on its way: a
// converter's packs (of lines, by a timer, of a buffer's bytes behind a
// stream with no quiet gap), a virtual COM port's bursts, a USB adapter's
// latency timer, or nothing. Read at changing moments, every reading gives
// its weight.
TEST_P(Exchange, EveryDeliveryOfALiveScaleIsRead) {
  using Args = std::vector<std::string>;
  const std::vector<Args> deliveries =
      serial() ? std::vector<Args>{{"--wire-speed", "--interval", "20"},
                                   {"--pack", "timer:100", "--interval", "20"},
                                   {"--pack", "timer:16", "--wire-speed", "--interval", "1"}}
               : std::vector<Args>{{"--interval", "100"},
                                   {"--pack", "lines:4", "--interval", "20"},
                                   {"--pack", "timer:200", "--interval", "20"},
                                   {"--pack", "gap:2,bytes:64", "--wire-speed", "--interval", "1"}};
  for (Args args : deliveries) {
    args.insert(args.end(), {"--weight", "11111", "--unit", "g"});
    Scale s(serial(), args);
    ASSERT_TRUE(s.connected);
    for (int reading = 0; reading < 6; ++reading) {
      EXPECT_TRUE(s.Exchange()) << args[0] << " " << args[1] << ", reading " << reading;
      EXPECT_EQ(s.reading().value, 11111);
      os::Sleep(70 + 37 * static_cast<uint32_t>(reading));
    }
  }
}

// A busy host reads late: lines that came one by one wait together, and the
// reading still takes them for what they are, the scale's current lines.
// The reading runs in a thread that gets a processor only when the busy
// ones leave it, which they do for 10 ms in every 25 (always busy, on an
// emulated machine already loaded, they would starve it past every limit).
TEST_P(Exchange, AScaleIsReadWhileTheMachineIsBusy) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
    busy.emplace_back([&stop] {
      while (!stop.load(std::memory_order_relaxed)) {
        for (Stopwatch spin; spin.ms() < 15;) {
        }
        os::Sleep(10);
      }
    });
  }
  Scale s(serial(), {"--interval", "20", "--weight", "2.5", "--unit", "kg"});
  int read = 0;
  std::string failed;  // the trace of each reading that failed
  const TraceCapture trace;
  std::thread reader([&] {
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    for (int reading = 0; reading < 20 && s.connected; ++reading) {
      trace.Clear();
      const bool ok = s.Exchange() && s.reading().value == 2.5;
      read += ok ? 1 : 0;
      if (!ok) failed += trace.Text();
    }
  });
  reader.join();
  stop = true;
  for (std::thread& t : busy) t.join();
  ASSERT_TRUE(s.connected);
  EXPECT_EQ(read, 20) << "readings of a live scale on a busy machine:\n" << failed;
}

TEST(StreamExchange, LineInProgressAtTheStartIsDropped) {
  // Without its first byte (taken by the stream detection) the line would
  // read "SS,..." and look stable; whole, it is unstable.
  Scale s(false, {"--line", "USS,GS,  12.345kg"});
  ASSERT_TRUE(s.connected);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(s.Exchange());
    EXPECT_EQ(s.reading().stability, Stability_Unstable) << "reading " << i;
  }
}

TEST(StreamExchange, ScaleThatStopsSendingEndsAtTheTimeLimitWithoutCode) {
  Scale s(false, {"--interval", "60", "--stop-after", "27"});
  ASSERT_TRUE(s.connected);
  // The first line is pending (the purge takes it and waits 80 ms, in which
  // the scale sends half a line and stops), waited for rather than slept
  // for: a slow machine starts the scale late.
  uint32_t queued = 0;
  for (Stopwatch wait; queued < 18 && wait.ms() < 2000; os::Sleep(1)) os::SocketQueued(s.slot().socket, &queued);
  ASSERT_GE(queued, 18u);
  const TraceCapture trace;
  Stopwatch watch;
  EXPECT_FALSE(s.Exchange());
  EXPECT_GE(watch.ms(), 256 - kTickSlack);
  EXPECT_LT(watch.ms(), kBound);
  EXPECT_TRUE(trace.Has("the stream's 256 ms have passed")) << trace.Text();
  EXPECT_FALSE(trace.Has("lines further apart")) << "it stopped mid-line: " << trace.Text();
  EXPECT_FALSE(trace.Has("way: ENQ")) << "no request follows a stream: " << trace.Text();
  EXPECT_EQ(GetError(s.device), NoError);
}

// Lines further apart than the stream's 256 ms: the reading that joins the
// stream between two of them ends without a weight, and its trace says how
// long no line came after the last one, not merely that the time passed.
// (A scale that stops mid-line, above, is not said to be slow.)
TEST(StreamExchange, LinesTooFarApartForTheStreamAreSaidInTheTrace) {
  Scale s(false, {"--interval", "1000"});
  ASSERT_TRUE(s.connected);
  const TraceCapture trace;
  bool streamed = false;
  for (int attempt = 0; attempt < 3 && !streamed; ++attempt) {
    // Takes a line as it comes, and starts the reading 100 ms before the
    // next, knowing no line's end, as right after a connect.
    uint32_t queued = 0;
    for (Stopwatch wait; queued < 18 && wait.ms() < 3000; os::Sleep(1)) os::SocketQueued(s.slot().socket, &queued);
    ASSERT_GE(queued, 18u);
    uint8_t line[64];
    ASSERT_EQ(os::SocketReceive(s.slot().socket, line, sizeof line), static_cast<int>(queued));
    os::Sleep(900);
    s.slot().reception.lastByte = 0;
    trace.Clear();
    EXPECT_FALSE(s.Exchange());
    streamed = trace.Has("way: stream");
  }
  ASSERT_TRUE(streamed) << "one of three readings began 100 ms before a line: " << trace.Text();
  EXPECT_TRUE(trace.Has(" ms after the last one ended: lines further apart than 256 ms are not read")) << trace.Text();
}

// ---- request mode -----------------------------------------------------------

TEST_P(Exchange, RequestScaleIsReadTheFirstWay) {
  Scale s(serial(), {"--mode", "request", "--weight", "3.5", "--unit", "t"});
  ASSERT_TRUE(s.connected);
  const TraceCapture trace;
  Stopwatch watch;
  ASSERT_TRUE(s.Exchange());
  EXPECT_DOUBLE_EQ(s.reading().value, 3.5);
  EXPECT_EQ(s.reading().unit, Unit_Tonne);
  // TCP: 200 ms purge, 168 ms after each send, 80 ms silence after each reply.
  // Serial: 300 ms watching for a stream, then the two 80 ms silences.
  EXPECT_GE(watch.ms(), (serial() ? 300 + 80 + 80 : 200 + 168 + 80 + 168 + 80) - kTickSlack);
  EXPECT_LT(watch.ms(), kBound);
  EXPECT_TRUE(trace.Has("way: ENQ, then DC1")) << trace.Text();
  EXPECT_FALSE(trace.Has("way: ENQ DC1 together")) << trace.Text();
}

TEST_P(Exchange, ScaleThatDoesNotAckIsAskedWithEnqDc1) {
  Scale nak(serial(), {"--mode", "request", "--enq-reply", "nak"});
  ASSERT_TRUE(nak.connected);
  ASSERT_TRUE(nak.Exchange());
  EXPECT_DOUBLE_EQ(nak.reading().value, 12.345);

  Scale mute(serial(), {"--mode", "request", "--enq-reply", "none"});
  ASSERT_TRUE(mute.connected);
  const TraceCapture trace;
  Stopwatch watch;
  ASSERT_TRUE(mute.Exchange());
  // The first way waits out its whole first reply before the second way.
  EXPECT_GE(watch.ms(), (serial() ? 300 + 350 + 80 : 200 + 168 + 300 + 168 + 80) - kTickSlack);
  EXPECT_LT(watch.ms(), kBound);
  EXPECT_TRUE(trace.Has("no lone ACK to ENQ")) << trace.Text();
  EXPECT_TRUE(trace.Has("way: ENQ DC1 together")) << trace.Text();
}

TEST_P(Exchange, SecondWayRejectsRepliesOfTenBytesOrFewer) {
  Scale tenBytes(serial(), {"--mode", "request", "--enq-reply", "nak", "--line", "ST 1.5kg"});
  ASSERT_TRUE(tenBytes.connected);
  EXPECT_FALSE(tenBytes.Exchange());
  EXPECT_EQ(GetError(tenBytes.device), NoError) << "request failures set no code";

  Scale elevenBytes(serial(), {"--mode", "request", "--enq-reply", "nak", "--line", "ST 12.5kg"});
  ASSERT_TRUE(elevenBytes.connected);
  ASSERT_TRUE(elevenBytes.Exchange());
  EXPECT_DOUBLE_EQ(elevenBytes.reading().value, 12.5);
}

TEST_P(Exchange, SilentScaleFailsWithoutCodeOnceBothWaysTimedOut) {
  Scale s(serial(), {"--mode", "silent"});
  ASSERT_TRUE(s.connected);
  const TraceCapture trace;
  Stopwatch watch;
  EXPECT_FALSE(s.Exchange());
  EXPECT_EQ(GetError(s.device), NoError);
  EXPECT_GE(watch.ms(), (serial() ? 300 + 350 + 350 : 200 + 168 + 300 + 168 + 300) - kTickSlack);
  EXPECT_LT(watch.ms(), kBound);
  const std::string text = trace.Text();
  EXPECT_TRUE(text.find("way: ENQ, then DC1") < text.find("way: ENQ DC1 together")) << text;
  int timedOut = 0;
  for (size_t at = text.find("no reply within"); at != std::string::npos; at = text.find("no reply within", at + 1)) {
    ++timedOut;
  }
  EXPECT_EQ(timedOut, 2) << "each way waited out its reply: " << text;
}

TEST(RequestExchange, UnstableLinesTurnStableBetweenReadings) {
  Scale s(false, {"--mode", "request", "--unstable", "2"});
  ASSERT_TRUE(s.connected);
  const int32_t expected[] = {Stability_Unstable, Stability_Unstable, Stability_Stable};
  for (int32_t stability : expected) {
    ASSERT_TRUE(s.Exchange());
    EXPECT_EQ(s.reading().stability, stability);
  }
}

// ---- error codes ------------------------------------------------------------

TEST(ExchangeCodes, PendingCode8IsClearedByTheNextReadingOtherCodesStay) {
  Scale s(false, {"--mode", "stream"});
  ASSERT_TRUE(s.connected);
  s.slot().errorCode = Unknown_Data;
  ASSERT_TRUE(s.Exchange());
  EXPECT_EQ(GetError(s.device), NoError);

  s.slot().errorCode = Tare_Not_Supported;
  ASSERT_TRUE(s.Exchange());
  EXPECT_EQ(GetError(s.device), Tare_Not_Supported);
}

TEST(ExchangeCodes, JunkDoesNotReplaceAPendingCode) {
  Scale s(false, {"--mode", "junk-short"});
  ASSERT_TRUE(s.connected);
  s.slot().errorCode = Tare_Not_Supported;
  EXPECT_FALSE(s.Exchange());
  EXPECT_EQ(GetError(s.device), Tare_Not_Supported);
}

// (That neither waits is checked in virtual time: channel_timing_test.cpp.)
TEST(ExchangeCodes, DeviceWithoutSlotOrChannelFailsAndChangesNoCode) {
  DeviceHandle h;
  WeightReading reading;
  EXPECT_FALSE(ExchangeWeight(h, &reading));
  EXPECT_EQ(GetError(h), NoError);
  const ClosedTcpPort closed;
  ASSERT_FALSE(Connect(h, TcpSettings(closed.port())));
  EXPECT_FALSE(ExchangeWeight(h, &reading));
  EXPECT_EQ(GetError(h), Tcp_Connect_Error);
}

// Under emulation the tests' scale-sims come from a native broker: the same
// scales, started, switched and ended through a connection.
// A scale-sim-broker of the test's own, ended when the object goes, however
// the test ends.
struct Broker {
  Broker() {
    int out[2];
    if (pipe(out) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      execl(SCALE_SIM_BROKER_PATH, SCALE_SIM_BROKER_PATH, SCALE_SIM_PATH, "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FILE* said = fdopen(out[0], "r");
    char line[64] = {};
    if (std::fgets(line, sizeof line, said) == nullptr || std::sscanf(line, "broker %d", &port) != 1) port = 0;
    std::fclose(said);
  }
  ~Broker() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
  int port = 0;
};

// An environment variable set for a scope, and unset when it ends.
struct ScopedVariable {
  ScopedVariable(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedVariable() { unsetenv(name_); }
  const char* name_;
};

TEST(SimBroker, StartsSwitchesAndEndsTheScalesATestAsksFor) {
  const Broker broker;
  ASSERT_GT(broker.port, 0) << "the broker listens";
  const std::string awkward = "ST,GS,\t1\\2\r\n";
  EXPECT_EQ(scale_sim::FromBrokerField(scale_sim::BrokerField(awkward)), awkward) << "any argument crosses";
  EXPECT_EQ(scale_sim::BrokerField(awkward).find_first_of("\t\n"), std::string::npos);
  int ended = 0;
  {
    const ScopedVariable brokered("PESOLAN_SIM_BROKER", std::to_string(broker.port));
    Scale request(false, {"--mode", "request", "--weight", "2.5", "--control"});
    ASSERT_TRUE(request.connected);
    ASSERT_TRUE(request.Exchange());
    EXPECT_DOUBLE_EQ(request.reading().value, 2.5);
    ASSERT_TRUE(request.sim->Command("mode stream")) << "answered once carried out";
    EXPECT_FALSE(request.sim->Command("mode sideways")) << "refused";
    const TraceCapture trace;
    ASSERT_TRUE(request.Exchange());
    EXPECT_TRUE(trace.Has("way: stream")) << "a streaming scale now: " << trace.Text();
    Scale serial(true, {"--weight", "7"});
    ASSERT_TRUE(serial.connected) << "a pseudo-terminal too";
    EXPECT_TRUE(serial.Exchange());
    ended = request.sim->port();
  }
  bool refused = false;
  for (int i = 0; i < 100 && !refused; ++i, usleep(20000)) {
    DeviceHandle gone;
    refused = !Connect(gone, TcpSettings(ended));
  }
  EXPECT_TRUE(refused) << "the scale ended with its connection";
}

// The soak's scales: commands change what they say, and every line they
// send is recorded with the moment it left.
TEST(ScaleSim, FollowsItsCommandsAndRecordsEachLineItSends) {
  char dir[] = "/tmp/pesolan-sim-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string sent = std::string(dir) + "/sent";
  Scale s(false, {"--mode", "request", "--control", "--sent", sent});
  ASSERT_TRUE(s.connected);
  ASSERT_TRUE(s.Exchange());
  EXPECT_DOUBLE_EQ(s.reading().value, 12.345);
  ASSERT_TRUE(s.sim->Command("weight 7.5"));
  ASSERT_TRUE(s.sim->Command("unit g"));
  // Two unstable lines: a loaded emulated machine that stalls the reader
  // for 80 ms within the dripped reply falls back to ENQ DC1 together, and
  // reads the next line.
  ASSERT_TRUE(s.sim->Command("unstable 2"));
  ASSERT_TRUE(s.sim->Command("drip 20"));
  for (const char* refused : {"weight abc", "weight 1234.567", "unit lb", "frobnicate 3", "drip -1"}) {
    EXPECT_FALSE(s.sim->Command(refused)) << refused;
  }
  ASSERT_TRUE(s.Exchange());
  EXPECT_EQ(s.reading().stability, Stability_Unstable);
  EXPECT_DOUBLE_EQ(s.reading().value, 7.5);
  EXPECT_EQ(s.reading().unit, Unit_Gram);
  s.sim.reset();
  std::ifstream file(sent);
  struct Line {
    long long began, ended, made;
    std::string text;
  };
  std::vector<Line> lines;
  bool noted = false;
  for (Line l; file >> l.began >> l.ended >> l.made && std::getline(file, l.text);) {
    l.text.erase(0, 1);
    noted = noted || l.text == "# weight 7.5";  // what the scale was told, for the reader
    if (l.text[0] != '#') lines.push_back(l);
  }
  EXPECT_TRUE(noted);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_LE(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "ST,GS,  12.345kg");
  EXPECT_EQ(lines[1].text, "US,GS,     7.5g ");
  EXPECT_GE(lines[1].ended - lines[1].began, 16 * 20 * 1000000LL) << "a dripped line: its first and last byte";
  EXPECT_GT(lines[1].began, lines[0].ended);
  EXPECT_EQ(lines[1].made, lines[1].ended) << "a line that nothing held is made as it is written";
  std::remove(sent.c_str());
  rmdir(dir);
}

// What waited on a scale's side (a flood, as in a converter's buffer) goes
// out as fast as its peer takes it, whatever pace its lines have now: a
// backlog at a live scale's pace is nothing a real line brings about, and
// no reader could tell it from one.
TEST(ScaleSim, ABacklogComesInBulkWhateverTheDrip) {
  SimProcess sim({"--pty", "--control", "--unread", "queue"});
  ASSERT_TRUE(sim.ok());
  const int fd = open(sim.ptyPath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  ASSERT_TRUE(sim.Command("flood 300"));
  os::Sleep(500);  // nobody reads: the terminal fills, the rest waits in the scale
  ASSERT_TRUE(sim.Command("drip 20"));
  size_t got = 0;
  Stopwatch watch;
  while (watch.ms() < 500) {
    pollfd one{fd, POLLIN, 0};
    char buf[4096];
    if (poll(&one, 1, 50) > 0) got += static_cast<size_t>(std::max<ssize_t>(read(fd, buf, sizeof buf), 0));
  }
  close(fd);
  EXPECT_GT(got, 65536u) << "at 20 ms a byte, 500 ms carry 25 bytes beyond what the terminal holds";
}

}  // namespace
