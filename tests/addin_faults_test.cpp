// Scales that misbehave, read through the loaded library: each ends with the
// outcome the driver gives it, within bounded time, and nothing hangs.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "support/addin_fixture.h"
#include "support/sim_process.h"
#include "support/text.h"

using namespace testing_support;

namespace {

class Faults : public ScaleTest {
 protected:
  // GetWeight; the weight, or -1 when the reading failed.
  double Read(const std::u16string& id, long* ms = nullptr) {
    Stopwatch watch;
    double weight = -1;
    if (!addin.Weight(id, &weight)) weight = -1;
    if (ms != nullptr) *ms = watch.ms();
    return weight;
  }
};

// A reading of a device whose channel is closed: nothing was sent, and no
// wait for an answer ran out.
void ExpectNoDialogue(const TraceCapture& trace) {
  EXPECT_TRUE(trace.Has("the channel is not open")) << trace.Text();
  EXPECT_FALSE(trace.Has("sent ")) << trace.Text();
  EXPECT_FALSE(trace.Has("no reply within")) << trace.Text();
}

TEST_F(Faults, ScaleThatHangsUpMidLineGivesNoDataAndLaterReadingsFailAtOnce) {
  const std::u16string id = OpenOn({"--mode", "stream", "--disconnect-after", "25"});
  long ms = 0;
  EXPECT_EQ(Read(id, &ms), -1);
  EXPECT_EQ(addin.LastError(), 106);
  EXPECT_LT(ms, 5000);
  for (int i = 0; i < 3; ++i) Read(id);  // the failed send closes the connection
  const TraceCapture trace;
  EXPECT_EQ(Read(id, &ms), -1);
  ExpectNoDialogue(trace);
  EXPECT_LT(ms, 5000);
  EXPECT_EQ(addin.LastError(), 106);
}

TEST_F(Faults, ScaleThatReconnectsIsReadAgainAfterCloseAndOpen) {
  // Two request dialogues take 19 bytes each; the third is cut mid-reply.
  const std::u16string id = OpenOn({"--mode", "request", "--disconnect-after", "40"});
  EXPECT_DOUBLE_EQ(Read(id), 12.345);
  EXPECT_DOUBLE_EQ(Read(id), 12.345);
  EXPECT_EQ(Read(id), -1);
  EXPECT_EQ(addin.LastError(), 106);
  EXPECT_TRUE(addin.Close(id));
  const std::u16string again = addin.Open();
  EXPECT_EQ(again, id) << "the same number comes back";
  EXPECT_DOUBLE_EQ(Read(again), 12.345);
  EXPECT_EQ(addin.LastError(), 0);
}

TEST_F(Faults, ScaleThatDripsABytePerSeventyMsIsStillRead) {
  const std::u16string id = OpenOn({"--mode", "stream", "--drip", "70"});
  long ms = 0;
  EXPECT_DOUBLE_EQ(Read(id, &ms), 12.345);
  EXPECT_GE(ms, 18 * 70 - kTickSlack) << "at least one whole line of 18 bytes";
  EXPECT_LT(ms, 3 * 18 * 70 + 1000);
}

// Megabytes of lines queued all along: the reader never catches up with the
// scale, so no line is known to be current. Each reading ends with no data
// once it has been behind for its limit, and never gives a weight. (On an
// emulated machine the scale-sim cannot always keep its flood up: a reading
// that caught up in a pause of it ends at the stream's time limit.)
TEST_F(Faults, ScaleThatFloodsTheLineEndsEachReadingWithNoData) {
  const std::u16string id = OpenOn({"--mode", "stream", "--flood"});
  const TraceCapture trace;
  for (int i = 0; i < 3; ++i) {
    trace.Clear();
    long ms = 0;
    EXPECT_EQ(Read(id, &ms), -1);
    EXPECT_EQ(addin.LastError(), 106);
    const bool behind = trace.Has("still behind the scale after 1000 ms");
    EXPECT_TRUE(behind || trace.Has("the stream's 256 ms have passed")) << trace.Text();
    if (behind) {
      EXPECT_GE(ms, 1000 - kTickSlack) << "behind for the whole limit";
    }
    EXPECT_LT(ms, 1000 + 4000);
  }
}

// A 22-byte reply with a stray byte behind it, in one write, is a reply:
// only bytes that came faster than the scale's line carries them are none.
TEST_F(Faults, AReplyWithAStrayByteBehindItIsRead) {
  const std::u16string id = OpenOn({"--mode", "request", "--line", "ST,GS,      12.345kg\r\nX"});
  const TraceCapture trace;
  EXPECT_DOUBLE_EQ(Read(id), 12.345);
  EXPECT_TRUE(trace.Has("way: ENQ, then DC1")) << trace.Text();
  EXPECT_FALSE(trace.Has("way: ENQ DC1 together")) << "read the first way: " << trace.Text();
}

TEST_F(Faults, ScaleThatSwitchesModesBetweenReadingsIsReadEitherWay) {
  const std::u16string id = OpenOn({"--mode", "stream", "--control"});
  const TraceCapture trace;
  EXPECT_DOUBLE_EQ(Read(id), 12.345);
  EXPECT_TRUE(trace.Has("way: stream")) << trace.Text();
  for (const char* mode : {"request", "stream"}) {
    ASSERT_TRUE(sims.back()->Command(std::string("mode ") + mode));
    trace.Clear();
    long ms = 0;
    EXPECT_DOUBLE_EQ(Read(id, &ms), 12.345) << mode;
    EXPECT_TRUE(trace.Has(mode == std::string("request") ? "way: ENQ, then DC1" : "way: stream")) << trace.Text();
    EXPECT_LT(ms, 5000);
  }
}

TEST_F(Faults, ConnectionResetDuringASendEndsTheDevicesChannel) {
  const std::u16string id = OpenOn({"--mode", "silent", "--reset-on-request"});
  long ms = 0;
  EXPECT_EQ(Read(id, &ms), -1);
  EXPECT_EQ(addin.LastError(), 106);
  EXPECT_LT(ms, 5000);
  const TraceCapture trace;
  EXPECT_EQ(Read(id, &ms), -1) << "the reset connection was closed";
  ExpectNoDialogue(trace);
}

TEST_F(Faults, EightDevicesOnSeveralComponentsAreReadInTurn) {
  SimProcess kilograms({"--tcp", "--weight", "1.250"});
  SimProcess grams({"--tcp", "--mode", "request", "--weight", "750", "--unit", "g"});
  std::vector<std::unique_ptr<AddIn>> components;
  std::vector<std::vector<std::u16string>> ids(3);
  for (int c = 0; c < 3; ++c) {
    components.push_back(std::make_unique<AddIn>(library));
    for (int d = 0; d < 8; ++d) {
      components[c]->UseTcp(d % 2 == 0 ? kilograms.port() : grams.port(), 2);
      ids[c].push_back(components[c]->Open());
    }
  }
  for (int d = 0; d < 8; ++d) {
    for (int c = 0; c < 3; ++c) {
      double weight = 0;
      ASSERT_TRUE(components[c]->Weight(ids[c][d], &weight)) << "component " << c << " device " << d;
      EXPECT_DOUBLE_EQ(weight, d % 2 == 0 ? 1250.0 : 750.0);
    }
  }
}

}  // namespace
