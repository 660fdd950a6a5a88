// The soak's judge: what the driver must return for a line, worked out on
// its own, and which readings the lines of a call justify.

#include <gtest/gtest.h>

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

TEST(SoakOracle, AReadingIsJustifiedOnlyByALineOfItsOwnTime) {
  const std::vector<Sent> sent = {
      {990000000, 1000000000, "ST,GS,  12.345kg"},
      {1990000000, 2000000000, "US,GS,  13.000kg"},
      {2990000000, 3000000000, "ST,GS,  14.500kg"},
      {3500000000, 4500000000, "ST,GS,  15.500kg"},  // dripped for a second
  };
  EXPECT_TRUE(Justified(14.5, sent, 2900000000, 3100000000, 3, false));
  EXPECT_TRUE(Justified(14.5, sent, 3050000000, 3100000000, 3, false)) << "its bytes were still on their way";
  EXPECT_FALSE(Justified(14.5, sent, 3200000000, 3300000000, 3, false)) << "a stale reading";
  EXPECT_FALSE(Justified(12.345, sent, 2900000000, 3100000000, 3, false)) << "a line from before the call";
  EXPECT_FALSE(Justified(13.0, sent, 1900000000, 2100000000, 3, false)) << "unstable, and not allowed";
  EXPECT_TRUE(Justified(13.0, sent, 1900000000, 2100000000, 3, true));
  EXPECT_FALSE(Justified(12.0, sent, 900000000, 1100000000, 3, false)) << "the decimal point dropped";
  EXPECT_TRUE(Justified(15.5, sent, 3600000000, 4000000000, 3, false)) << "read before its last byte left";
  EXPECT_FALSE(Justified(15.5, sent, 3300000000, 3400000000, 3, false)) << "not yet begun";
  EXPECT_FALSE(Justified(12345.0, sent, 900000000, 1100000000, 3, false)) << "another unit's number";
}

TEST(SoakOracle, ScheduledWeightsLeaveASpaceInTheScalesEightPlaces) {
  for (uint64_t roll = 1; roll < 4000000000ULL; roll = roll * 7 + 13) {
    const std::string weight = ScheduledWeight(roll);
    EXPECT_LE(weight.size(), weight[0] == '-' ? 8u : 7u) << weight;
  }
}

TEST(SoakOracle, AnyWrongWeightSlowCallOrUndefinedCodeFailsTheRun) {
  const std::vector<std::vector<Sent>> sent = {{{1000000000, 1000000000, "ST,GS,  12.345kg"}}};
  Findings good;
  good.slotsFree = true;
  good.Judge({Call{Method::GetWeight, 950000000, 1050000000, "true", true, 12.345, 0, 3, false}}, sent);
  EXPECT_TRUE(good.Passed()) << Json(good);

  Findings wrong = good;
  wrong.Judge({Call{Method::GetWeight, 950000000, 1050000000, "true", true, 12.0, 0, 3, false}}, sent);
  EXPECT_FALSE(wrong.Passed());
  ASSERT_EQ(wrong.wrongWeights.size(), 1u);
  EXPECT_NE(Json(wrong).find("\"wrongWeights\":[\"seed 0: scale 0, unit 3: 12 in a call of 100 ms"),
            std::string::npos)
      << Json(wrong);
  EXPECT_NE(Json(wrong).find("[50..50 ms] ST,GS,  12.345kg;"), std::string::npos) << "with the lines around it";

  Findings slow = good;
  slow.Judge({Call{Method::Close, 0, (BoundMs(Method::Close) + 1) * 1000000, "true"}}, sent);
  EXPECT_FALSE(slow.Passed());
  Findings undefined = good;
  Call failed{Method::GetWeight, 0, 1000000, "false 0"};
  failed.undefinedCode = true;
  undefined.Judge({failed}, sent);
  EXPECT_FALSE(undefined.Passed());
  Findings leaking = good;
  leaking.descriptorDrift = kDescriptorMargin + 1;
  EXPECT_FALSE(leaking.Passed());
}

}  // namespace
