// The soak's judge: what the driver must return for a line, worked out on
// its own, and which readings the lines of a call justify.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "oracle.h"
#include "report.h"
#include "schedule.h"

using namespace soak;

namespace {

double For(const std::string& text, int requested) {
  Line line;
  EXPECT_TRUE(ReadLine(text, &line)) << text;
  return Expected(line, requested);
}

TEST(SoakOracle, ReadsTheScalesLinesAndNothingElse) {
  Line line;
  ASSERT_TRUE(ReadLine("US,GS,  -0.25kg", &line));
  EXPECT_FALSE(line.stable);
  EXPECT_EQ(line.number, "-0.25");
  EXPECT_EQ(line.unit, 3);
  ASSERT_TRUE(ReadLine("ST,GS,    1500g ", &line));
  EXPECT_TRUE(line.stable);
  EXPECT_EQ(line.unit, 2);
  EXPECT_FALSE(ReadLine("?? NO WEIGHT 12 lb", &line));
  EXPECT_FALSE(ReadLine("ST,GS,  12.345lb", &line));
  ASSERT_TRUE(ReadLine("ST,GS, 896.736k", &line)) << "cut after the unit's first letter, as the driver reads it";
  EXPECT_EQ(line.unit, 3);
  EXPECT_FALSE(ReadLine("ST,GS,", &line));
}

TEST(SoakOracle, ConvertsByPowersOfTenAndCutsAsTheDriverReturns) {
  const double kg[] = {12.345, 12345000.0, 12345.0, 12.345, 0.012};  // as on the scale, mg, g, kg, t
  for (int unit = 0; unit <= 4; ++unit) EXPECT_EQ(For("ST,GS,  12.345kg", unit), kg[unit]) << unit;
  EXPECT_EQ(For("ST,GS,    1500g", 3), 1.5) << "a whole number into a larger unit keeps its fraction";
  EXPECT_EQ(For("ST,GS,    1500g", 4), 0.001) << "cut, not rounded";
  EXPECT_EQ(For("ST,GS,    1500g", 1), 1500000.0);
  EXPECT_EQ(For("ST,GS,  1.2345kg", 0), 1.234) << "as on the scale: three decimals at most";
  EXPECT_EQ(For("ST,GS,     12.5t", 0), 12.5);
  EXPECT_EQ(For("ST,GS,  -0.999kg", 4), -0.0) << "toward zero";
  EXPECT_EQ(For("ST,GS,      12.t", 2), 12000000.0);
  EXPECT_EQ(For("ST,GS,  999.999t", 1), 999999000000.0) << "tonnes to milligrams by 10^9";
  EXPECT_EQ(For("ST,GS,   9999.9g", 4), 0.01) << "0.0099999 is written 0.010000 before the cut";
  EXPECT_EQ(For("ST,GS,   12.345g", 4), 0.0);
}

constexpr int64_t kMs = 1000000;

TEST(SoakOracle, AReadingIsJustifiedOnlyByALineOfItsOwnTime) {
  const std::vector<Sent> sent = {
      {990 * kMs, 1000 * kMs, 990 * kMs, "ST,GS,  12.345kg"},
      {1990 * kMs, 2000 * kMs, 1990 * kMs, "US,GS,  13.000kg"},
      {2990 * kMs, 3000 * kMs, 2990 * kMs, "ST,GS,  14.500kg"},
      {3500 * kMs, 4500 * kMs, 3500 * kMs, "ST,GS,  15.500kg"},  // dripped for a second
      {5000 * kMs, 5000 * kMs, 4700 * kMs, "ST,GS,  16.500kg"},  // in a converter's pack
      {6000 * kMs, 6000 * kMs, 4000 * kMs, "ST,GS,  17.500kg"},  // queued for two seconds
  };
  EXPECT_TRUE(Justified(14.5, sent, 2900 * kMs, 3100 * kMs, 3, false));
  EXPECT_TRUE(Justified(14.5, sent, 3050 * kMs, 3100 * kMs, 3, false)) << "its bytes were still on their way";
  EXPECT_FALSE(Justified(14.5, sent, 3200 * kMs, 3300 * kMs, 3, false)) << "a stale reading";
  EXPECT_FALSE(Justified(12.345, sent, 2900 * kMs, 3100 * kMs, 3, false)) << "a line from before the call";
  EXPECT_FALSE(Justified(13.0, sent, 1900 * kMs, 2100 * kMs, 3, false)) << "unstable, and not allowed";
  EXPECT_TRUE(Justified(13.0, sent, 1900 * kMs, 2100 * kMs, 3, true));
  EXPECT_FALSE(Justified(12.0, sent, 900 * kMs, 1100 * kMs, 3, false)) << "the decimal point dropped";
  EXPECT_TRUE(Justified(15.5, sent, 3600 * kMs, 4000 * kMs, 3, false)) << "read before its last byte left";
  EXPECT_FALSE(Justified(15.5, sent, 3300 * kMs, 3400 * kMs, 3, false)) << "not yet begun";
  EXPECT_FALSE(Justified(12345.0, sent, 900 * kMs, 1100 * kMs, 3, false)) << "another unit's number";
  EXPECT_TRUE(Justified(16.5, sent, 4990 * kMs, 5100 * kMs, 3, false)) << "made within a pack of its handing over";
  EXPECT_FALSE(Justified(17.5, sent, 5990 * kMs, 6100 * kMs, 3, false)) << "handed over now, made long before";
}

// A failed reading is a refusal only of a scale that sent as the driver
// serves: lines 25 to 200 ms apart, however packed, or replies, with no
// command but a new weight around the call.
TEST(SoakOracle, AFailedReadingRefusedALiveScaleOnlyWhenNothingExcusesIt) {
  std::vector<Sent> stream;
  for (int64_t at = 0; at < 3000; at += 100) stream.push_back({at * kMs, at * kMs, at * kMs, "ST,GS,  12.345kg"});
  EXPECT_TRUE(LiveAndServed(stream, 2500 * kMs, 2800 * kMs, true, false));
  EXPECT_FALSE(LiveAndServed(stream, 2510 * kMs, 2650 * kMs, true, false)) << "one line in the call";
  std::vector<Sent> changed = stream;
  changed.push_back({200 * kMs, 200 * kMs, 200 * kMs, "# interval 100"});
  changed.push_back({1500 * kMs, 1500 * kMs, 1500 * kMs, "# weight 7"});
  std::sort(changed.begin(), changed.end(), [](const Sent& a, const Sent& b) { return a.began < b.began; });
  EXPECT_TRUE(LiveAndServed(changed, 2500 * kMs, 2800 * kMs, true, false)) << "a new weight excuses nothing";
  changed.insert(changed.begin() + 27, {2600 * kMs, 2600 * kMs, 2600 * kMs, "# pack lines:2"});
  EXPECT_FALSE(LiveAndServed(changed, 2500 * kMs, 2800 * kMs, true, false)) << "changed during the call";
  std::vector<Sent> slow = {{0, 0, 0, "# interval 400"}};
  slow.insert(slow.end(), stream.begin(), stream.end());
  EXPECT_FALSE(LiveAndServed(slow, 2500 * kMs, 2800 * kMs, true, false)) << "slower than the driver serves";
  std::vector<Sent> flooded = {{0, 0, 0, "# flood 300"}};
  flooded.insert(flooded.end(), stream.begin(), stream.end());
  EXPECT_FALSE(LiveAndServed(flooded, 2500 * kMs, 2800 * kMs, true, false)) << "a flood's backlog may remain";
  std::vector<Sent> unstable = stream;
  unstable[26].text = "US,GS,  12.345kg";
  EXPECT_FALSE(LiveAndServed(unstable, 2500 * kMs, 2800 * kMs, true, false));
  EXPECT_TRUE(LiveAndServed(unstable, 2500 * kMs, 2800 * kMs, true, true)) << "unstable weights allowed";
  std::vector<Sent> backlog = stream;
  backlog[25].made = 500 * kMs;  // handed over at 2500 ms: it waited on the way
  EXPECT_FALSE(LiveAndServed(backlog, 2500 * kMs, 2800 * kMs, true, false)) << "a backlog on its way";
  const std::vector<Sent> reply = {{2700 * kMs, 2710 * kMs, 2700 * kMs, "ST,GS,  12.345kg"}};
  EXPECT_TRUE(LiveAndServed(reply, 2500 * kMs, 2800 * kMs, false, false)) << "a request answered";
  EXPECT_FALSE(LiveAndServed({}, 2500 * kMs, 2800 * kMs, false, false)) << "no answer: a scale that does not answer";
}

TEST(SoakOracle, ScheduledWeightsLeaveASpaceInTheScalesEightPlaces) {
  for (uint64_t roll = 1; roll < 4000000000ULL; roll = roll * 7 + 13) {
    const std::string weight = ScheduledWeight(roll);
    EXPECT_LE(weight.size(), weight[0] == '-' ? 8u : 7u) << weight;
  }
}

TEST(SoakOracle, AnyWrongWeightRefusalSlowCallOrUndefinedCodeFailsTheRun) {
  std::vector<std::vector<Sent>> sent = {{{1000 * kMs, 1000 * kMs, 1000 * kMs, "ST,GS,  12.345kg"}}};
  Findings good;
  good.slotsFree = true;
  Call read{Method::GetWeight, 950 * kMs, 1050 * kMs, "true", true, 12.345, 0, 3, false};
  good.Judge({read}, sent, {true});
  EXPECT_TRUE(good.Passed()) << Json(good);

  Findings wrong = good;
  read.weight = 12.0;
  wrong.Judge({read}, sent, {true});
  EXPECT_FALSE(wrong.Passed());
  ASSERT_EQ(wrong.wrongWeights.size(), 1u);
  EXPECT_NE(Json(wrong).find("\"wrongWeights\":[\"seed 0: scale 0, unit 3, at "),
            std::string::npos)
      << Json(wrong);
  EXPECT_NE(Json(wrong).find("[50..50 ms] ST,GS,  12.345kg;"), std::string::npos) << "with the lines around it";

  Findings refused = good;
  sent[0].insert(sent[0].begin(), {990 * kMs, 990 * kMs, 990 * kMs, "ST,GS,  12.345kg"});
  sent[0].push_back({1040 * kMs, 1040 * kMs, 1040 * kMs, "ST,GS,  12.345kg"});
  Call failed{Method::GetWeight, 950 * kMs, 1050 * kMs, "false 106"};
  failed.scale = 0;
  refused.Judge({failed}, sent, {true});
  EXPECT_FALSE(refused.Passed());
  EXPECT_NE(Json(refused).find(": false 106 in a call of 100 ms, while the scale sent as the driver serves"),
            std::string::npos)
      << Json(refused);

  Findings slow = good;
  slow.Judge({Call{Method::Close, 0, (BoundMs(Method::Close) + 1) * 1000000, "true"}}, sent, {true});
  EXPECT_FALSE(slow.Passed());
  Findings undefined = good;
  Call noCode{Method::GetWeight, 0, 1000000, "false 0"};
  noCode.undefinedCode = true;
  undefined.Judge({noCode}, sent, {true});
  EXPECT_FALSE(undefined.Passed());
  Findings leaking = good;
  leaking.descriptorDrift = kDescriptorMargin + 1;
  EXPECT_FALSE(leaking.Passed());
}

}  // namespace
