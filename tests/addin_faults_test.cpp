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

TEST_F(Faults, ScaleThatHangsUpMidLineGivesNoDataAndLaterReadingsFailAtOnce) {
  const std::u16string id = OpenOn({"--mode", "stream", "--disconnect-after", "25"});
  long ms = 0;
  EXPECT_EQ(Read(id, &ms), -1);
  EXPECT_EQ(addin.LastError(), 106);
  EXPECT_LT(ms, 2000);
  for (int i = 0; i < 3; ++i) Read(id);  // the failed send closes the connection
  EXPECT_EQ(Read(id, &ms), -1);
  EXPECT_LT(ms, 50) << "a device whose peer has gone answers at once";
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

// Megabytes of lines queued all along: the purge ends at its limit at the
// latest (exactly so in the channel's virtual-time tests, where a reader can
// never catch up), and the stream's lines follow at once.
TEST_F(Faults, ScaleThatFloodsTheLineIsReadWithinTheLimits) {
  const std::u16string id = OpenOn({"--mode", "stream", "--flood"});
  for (int i = 0; i < 3; ++i) {
    long ms = 0;
    EXPECT_DOUBLE_EQ(Read(id, &ms), 12.345);
    EXPECT_GE(ms, 80 - kTickSlack) << "the purge waits after its last read";
    EXPECT_LT(ms, 200 + 256 + 500);
  }
}

TEST_F(Faults, ReplyLongerThan22BytesIsCutAndItsRestDrained) {
  const std::u16string id = OpenOn({"--mode", "request", "--line", "ST,GS,  12.345kg TRAILING BYTES"});
  EXPECT_DOUBLE_EQ(Read(id), 12.345);
  EXPECT_DOUBLE_EQ(Read(id), 12.345) << "the rest of the burst does not spoil the next dialogue";
  EXPECT_EQ(addin.LastError(), 0);
}

TEST_F(Faults, ScaleThatSwitchesModesBetweenReadingsIsReadEitherWay) {
  const std::u16string id = OpenOn({"--mode", "stream"});
  long stream = 0, request = 0;
  EXPECT_DOUBLE_EQ(Read(id, &stream), 12.345);
  sims.back()->SwitchMode();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the scale takes the signal
  EXPECT_DOUBLE_EQ(Read(id, &request), 12.345);
  // The purge may still find stream bytes (then it waits 80 ms, not 200).
  EXPECT_GE(request, 80 + 168 + 80 + 168 + 80 - kTickSlack) << "read as a request-mode scale";
  sims.back()->SwitchMode();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the scale takes the signal
  EXPECT_DOUBLE_EQ(Read(id, &stream), 12.345);
  EXPECT_LT(stream, 560) << "read as a streaming scale again (a request takes at least 576 ms)";
}

TEST_F(Faults, ConnectionResetDuringASendEndsTheDevicesChannel) {
  const std::u16string id = OpenOn({"--mode", "silent", "--reset-on-request"});
  long ms = 0;
  EXPECT_EQ(Read(id, &ms), -1);
  EXPECT_EQ(addin.LastError(), 106);
  EXPECT_LT(ms, 2000);
  EXPECT_EQ(Read(id, &ms), -1);
  EXPECT_LT(ms, 50) << "the reset connection was closed; nothing waits any more";
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
