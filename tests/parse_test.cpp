// Turning a line of the scale's text into a weight reading.

#include <gtest/gtest.h>

#include <cstring>

#include "channel/decimal_separator.h"
#include "protocol/weight.h"
#include "support/text.h"

using namespace pesolan;

namespace {

bool Parse(const std::string& line, WeightReading* r) {
  return ParseWeightLine(reinterpret_cast<const uint8_t*>(line.data()), static_cast<int>(line.size()), r);
}

WeightReading MustParse(const std::string& line) {
  WeightReading r;
  EXPECT_TRUE(Parse(line, &r)) << '"' << line << '"';
  return r;
}

bool IsWeightLine(const std::string& line) {
  WeightReading r;
  return Parse(line, &r);
}

class ParseTest : public ::testing::Test {
 protected:
  void SetUp() override { DecimalSeparator = '.'; }
  void TearDown() override { DecimalSeparator = '.'; }
};

TEST_F(ParseTest, TypicalLineGivesStabilityNumberDecimalsAndUnit) {
  const WeightReading r = MustParse("ST,GS,  12.345kg");
  EXPECT_EQ(r.stability, Stability_Stable);
  EXPECT_DOUBLE_EQ(r.value, 12.345);
  EXPECT_EQ(r.hasDecimalPoint, 1);
  EXPECT_EQ(r.decimals, 3);
  EXPECT_EQ(r.unit, Unit_Kilogram);
}

TEST_F(ParseTest, StabilityLetterMustStandInTheFirstFiveBytes) {
  EXPECT_EQ(MustParse("US,GS,  1.5kg").stability, Stability_Unstable);
  EXPECT_EQ(MustParse("u 1.5kg").stability, Stability_Unstable);
  EXPECT_EQ(MustParse("ABCDs 1.5kg").stability, Stability_Stable) << "position 4 still counts";
  EXPECT_FALSE(IsWeightLine("ABCDES 1.5kg")) << "position 5 is too late";
  EXPECT_EQ(MustParse("U,S 1.5kg").stability, Stability_Unstable) << "the first letter wins";
}

TEST_F(ParseTest, NumberStartsOnlyAfterASpaceOrAMinus) {
  EXPECT_DOUBLE_EQ(MustParse("ST -2.5kg").value, -2.5);
  EXPECT_FALSE(IsWeightLine("ST,GS,+12.345kg"));
  EXPECT_FALSE(IsWeightLine("ST,GS,12.345kg"));
  EXPECT_FALSE(IsWeightLine("12.345kg ST"));
}

TEST_F(ParseTest, AMinusAnywhereMakesTheWeightNegative) {
  EXPECT_DOUBLE_EQ(MustParse("ST,GS,  12.345kg-").value, -12.345);
  EXPECT_DOUBLE_EQ(MustParse("S-GS,  1.5kg").value, -1.5);
}

TEST_F(ParseTest, NumberMustEndAndBeFollowedByAUnitLetter) {
  EXPECT_FALSE(IsWeightLine("ST,GS,  12.345")) << "last byte a digit: the number never ended";
  EXPECT_FALSE(IsWeightLine("ST,GS,  12.345 lb"));
  EXPECT_FALSE(IsWeightLine("ST,GS,  kg")) << "no number at all";
}

TEST_F(ParseTest, UnitIsTheFirstUnitLetterAfterTheNumber) {
  EXPECT_EQ(MustParse("ST,KG,  12.345g").unit, Unit_Gram) << "letters before the number are not units";
  EXPECT_EQ(MustParse("ST  1.5 tkg").unit, Unit_Tonne);
  EXPECT_EQ(MustParse("ST  1.5K").unit, Unit_Kilogram);
  EXPECT_EQ(MustParse("ST  1.5G").unit, Unit_Gram);
}

TEST_F(ParseTest, DecimalsCountTheCharactersAfterThePoint) {
  WeightReading r = MustParse("ST  12.kg");
  EXPECT_EQ(r.hasDecimalPoint, 1);
  EXPECT_EQ(r.decimals, 0);
  r = MustParse("ST  12kg");
  EXPECT_EQ(r.hasDecimalPoint, 0);
  EXPECT_EQ(r.decimals, 0);
  EXPECT_DOUBLE_EQ(r.value, 12.0);
  EXPECT_EQ(MustParse("ST  0.1234kg").decimals, 4);
}

TEST_F(ParseTest, OnlyTheGivenLengthIsScanned) {
  const std::string line = "ST,GS,  12.345kg";
  WeightReading r;
  EXPECT_FALSE(ParseWeightLine(reinterpret_cast<const uint8_t*>(line.data()), 14, &r));
  EXPECT_TRUE(ParseWeightLine(reinterpret_cast<const uint8_t*>(line.data()), 15, &r));
}

TEST_F(ParseTest, AFailedParseLeavesTheReadingUntouched) {
  WeightReading r;
  r.value = 7.0f;
  r.unit = Unit_Tonne;
  EXPECT_FALSE(Parse("no weight here", &r));
  EXPECT_EQ(r.value, 7.0f);
  EXPECT_EQ(r.unit, Unit_Tonne);
}

TEST_F(ParseTest, NumberKeepsAtMostFifteenCharacters) {
  // The scan stops at the sixteenth character of a number, so a lone long
  // number never ends; after an ended number, a second one is appended.
  EXPECT_FALSE(IsWeightLine("ST 1234567890123456kg"));
  EXPECT_DOUBLE_EQ(MustParse("S 1kg 1234567890123456789").value, 112345678901234.0);
  EXPECT_DOUBLE_EQ(MustParse("S 12 kg 34").value, 1234.0);
}

TEST_F(ParseTest, BytesOutsideTheRulesSimplyMatchNothing) {
  const uint8_t line[] = {'S', ' ', '1', '.', '5', 0x00, 0xFF, 'k', 0x80};
  WeightReading r;
  ASSERT_TRUE(ParseWeightLine(line, sizeof line, &r));
  EXPECT_DOUBLE_EQ(r.value, 1.5);
  EXPECT_EQ(r.unit, Unit_Kilogram);
}

TEST_F(ParseTest, PointIsReadWithTheLocalesDecimalSeparator) {
  testing_support::ScopedLocale comma(testing_support::kCommaLocale);
  ASSERT_TRUE(comma.ok()) << "the ru_RU.UTF-8 locale is needed (see .ci/run)";
  DecimalSeparator = ',';
  EXPECT_DOUBLE_EQ(MustParse("ST,GS,  12.345kg").value, 12.345);
}

}  // namespace
