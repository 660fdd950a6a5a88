// pesolan find's listening and judgement, on a simulated serial line in
// virtual time: which line setting a scale speaks can be tried here, where a
// pseudo-terminal would refuse 7 data bits with parity.

#include <gtest/gtest.h>

#include <string>

#include "fake_os.h"
#include "find_listen.h"

namespace {

using host::Listened;
using host::PortFinding;

const os::LineSettings k8N1{9600, 0, 8, 0};
const os::LineSettings k7E1{9600, 2, 7, 0};

// A scale that streams line every so many ms for 5 s, from virtual time
// from.
void Streams(const std::string& line, uint32_t everyMs = 100, uint32_t from = 0) {
  for (uint32_t at = from; at < 5000; at += everyMs) fuzzing::Arrive(at, line);
}

host::Heard H(bool refused, const std::string& bytes) {
  host::Heard h;
  h.refused = refused;
  h.bytes = bytes;
  return h;
}

class FindListen : public testing::Test {
 protected:
  void SetUp() override { fuzzing::ResetLine(); }
};

TEST_F(FindListen, A7E1ScaleIsFoundWithTheSecondSettingAndNothingIsSent) {
  fuzzing::PlugSerialLine(k7E1);
  Streams("ST,GS,  12.345kg\r\n");
  const Listened l = host::ListenToPort(65);
  EXPECT_EQ(l.openError, "");
  ASSERT_FALSE(l.heard[0].bytes.empty());
  EXPECT_EQ(l.verdict.finding, PortFinding::Stream);
  EXPECT_EQ(l.verdict.attrs, 1);
  EXPECT_EQ(l.verdict.line.number, "12.345");
  EXPECT_EQ(l.verdict.line.unit, "kg");
  EXPECT_TRUE(l.verdict.line.stable);
  EXPECT_EQ(fuzzing::Sent(), "") << "listening sends nothing";
  EXPECT_GE(fuzzing::g_now, host::kListenMs) << "the first setting was listened to in full";
  EXPECT_LE(fuzzing::g_now, 2 * host::kListenMs);
}

TEST_F(FindListen, An8N1ScaleIsFoundWithTheFirstSettingWhichReadsClean) {
  fuzzing::PlugSerialLine(k8N1);
  Streams("US,GS,   1500g\r\n");
  const Listened l = host::ListenToPort(65);
  EXPECT_EQ(l.verdict.finding, PortFinding::Stream);
  EXPECT_EQ(l.verdict.attrs, 0);
  EXPECT_EQ(l.verdict.line.number, "1500");
  EXPECT_EQ(l.verdict.line.unit, "g");
  EXPECT_FALSE(l.verdict.line.stable);
  EXPECT_TRUE(l.heard[1].bytes.empty()) << "clean lines with 8N1 settle it";
  EXPECT_LT(fuzzing::g_now, host::kListenMs) << "three clean lines end the listening early";

}

// find's choice from what each setting heard: the setting that reads clean
// weight lines wins, 8N1 when both do.
TEST(FindDecide, TheSettingThatReadsCleanWeightLinesWins) {
  const std::string clean = "ST,GS,  12.345kg\r\nST,GS,  12.345kg\r\n";
  std::string parityOnTop = clean;  // a 7E1 scale read as 8N1
  for (char& c : parityOnTop) {
    int ones = 0;
    for (int bit = 0; bit < 7; ++bit) ones += (c >> bit) & 1;
    if (ones % 2 != 0) c = static_cast<char>(c | 0x80);
  }
  const std::string damaged = "ST,G\0,  12.3\0\0kg\r\n";  // an 8N1 scale read as 7E1
  const struct {
    host::Heard heard[2];
    PortFinding finding;
    int attrs;
  } cases[] = {
      {{H(false, clean), H(false, damaged)}, PortFinding::Stream, 0},
      {{H(false, parityOnTop), H(false, clean)}, PortFinding::Stream, 1},
      {{H(false, clean), H(false, clean)}, PortFinding::Stream, 0},
      {{H(false, clean), H(true, "")}, PortFinding::Stream, 0},
      {{H(false, "?? NO WEIGHT 12 lb\r\n"), H(true, "")}, PortFinding::Unknown, 0},
      {{H(true, ""), H(true, "")}, PortFinding::Refused, 0},
      {{H(false, ""), H(false, "")}, PortFinding::Silent, 0},
  };
  for (const auto& c : cases) {
    const host::Verdict v = host::Decide(c.heard);
    EXPECT_EQ(v.finding, c.finding) << c.heard[0].bytes << " / " << c.heard[1].bytes;
    if (c.finding == PortFinding::Stream) {
      EXPECT_EQ(v.attrs, c.attrs) << c.heard[0].bytes;
      EXPECT_EQ(v.line.number, "12.345");
    }
  }
}

// A scale whose lines come further apart than a stream reading waits
// (304 ms on a serial port) is found, as too slow, with how often they come.
TEST_F(FindListen, AScaleWhoseLinesComeTooFarApartIsFoundTooSlow) {
  const struct {
    uint32_t everyMs, from;
    PortFinding finding;
    unsigned leastMs, mostMs;
    bool atLeast;
  } cases[] = {
      {300, 0, PortFinding::Stream, 290, 310, false},
      {600, 0, PortFinding::TooSlow, 590, 610, false},
      {2000, 300, PortFinding::TooSlow, 1150, 1200, true},  // one line in 1.5 s, ending at about 320 ms
  };
  for (const auto& c : cases) {
    fuzzing::ResetLine();
    fuzzing::PlugSerialLine(k8N1);
    Streams("ST,GS,  12.345kg\r\n", c.everyMs, c.from);
    const Listened l = host::ListenToPort(65);
    EXPECT_EQ(l.verdict.finding, c.finding) << c.everyMs;
    EXPECT_EQ(l.verdict.attrs, 0);
    EXPECT_GE(l.verdict.pace.ms, c.leastMs) << c.everyMs;
    EXPECT_LE(l.verdict.pace.ms, c.mostMs) << c.everyMs;
    EXPECT_EQ(l.verdict.pace.atLeast, c.atLeast) << c.everyMs;
  }
  EXPECT_EQ(host::PaceOf({100, 700, 1300, 9000}, 9000).ms, 600u) << "the median: one late line does not decide";
  EXPECT_EQ(host::PaceOf({}, 2600).lines, 0);
  EXPECT_FALSE(host::TooSlow(host::PaceOf({}, 2600), true)) << "nothing heard is no slow scale";
}

TEST_F(FindListen, BytesThatAreNoWeightLinesSilenceAndAPortThatDoesNotOpen) {
  fuzzing::PlugSerialLine(k8N1);
  Streams("?? NO WEIGHT 12 lb\r\n");
  Listened l = host::ListenToPort(65);
  EXPECT_EQ(l.verdict.finding, PortFinding::Unknown);
  EXPECT_GT(l.verdict.bytes, 100);
  EXPECT_EQ(l.verdict.sample, "3F 3F 20 4E 4F 20 57 45 49 47 48 54 20 31 32 20");

  fuzzing::ResetLine();
  fuzzing::PlugSerialLine(k8N1);
  l = host::ListenToPort(65);
  EXPECT_EQ(l.verdict.finding, PortFinding::Silent);
  EXPECT_EQ(fuzzing::g_now, 2 * host::kListenMs) << "each setting listened to for its whole time, no longer";

  fuzzing::ResetLine();
  l = host::ListenToPort(65);
  EXPECT_NE(l.openError, "");
  EXPECT_EQ(fuzzing::g_now, 0u);
}

TEST(FindDecide, WeightLinesAreWholePrintableLinesWithANumber) {
  host::WeightLine last;
  // The first line began before the listening: its rest is no weight line.
  EXPECT_EQ(host::CountWeightLines("45kg\r\nST,GS,  -0.5kg\r\nUS,NT,  7\r\nST,GS, 1", &last), 2);
  EXPECT_EQ(last.number, "7");
  EXPECT_EQ(last.unit, "");
  EXPECT_FALSE(last.stable);
  EXPECT_EQ(host::CountWeightLines("ST,GS,  \xb1" "2.3kg\r\nST,GS,  kg\r\nXX,GS,  1kg\r\n", &last), 0);

  host::Heard heard[2];
  heard[0].refused = heard[1].refused = true;
  EXPECT_EQ(host::Decide(heard).finding, PortFinding::Refused);
  heard[1].refused = false;
  EXPECT_EQ(host::Decide(heard).finding, PortFinding::Silent);
  heard[1].bytes = "\x85\x91";
  EXPECT_EQ(host::Decide(heard).finding, PortFinding::Unknown);
  EXPECT_EQ(host::Decide(heard).attrs, 1);
  EXPECT_EQ(host::Decide(heard).sample, "85 91");
}

}  // namespace
