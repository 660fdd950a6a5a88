// Converting a weight between units and cutting it to the returned decimals.

#include <gtest/gtest.h>

#include <cmath>

#include "channel/decimal_separator.h"
#include "protocol/weight.h"
#include "support/text.h"

using namespace pesolan;

namespace {

WeightReading Reading(double value, int32_t unit, uint8_t hasPoint, uint8_t decimals) {
  WeightReading r;
  r.stability = Stability_Stable;
  r.value = value;
  r.unit = unit;
  r.hasDecimalPoint = hasPoint;
  r.decimals = decimals;
  return r;
}

// What the driver returns for a reading asked in requested.
FormattedWeight Returned(const WeightReading& r, int32_t requested) {
  FormattedWeight f{};
  EXPECT_TRUE(FormatWeight(ConvertWeight(r.value, r.unit, requested), r, requested, &f));
  return f;
}

// Each step between units, read as the driver returns it: the digits the
// scale sent survive every conversion (in single precision 12.345 t came
// back as 12345000267 mg).
TEST(ConvertWeight, EachStepBetweenUnitsKeepsTheScalesDigits) {
  const struct {
    double value;
    uint8_t decimals;  // as the scale wrote it
    int32_t reported, requested;
    const char* text;
  } cases[] = {
      {12.345, 3, Unit_Tonne, Unit_Milligram, "12345000000.000"}, {12.345, 3, Unit_Tonne, Unit_Kilogram, "12345.000"},
      {999.999, 3, Unit_Kilogram, Unit_Milligram, "999999000.000"}, {999.999, 3, Unit_Kilogram, Unit_Tonne, "0.999"},
      {1.5, 1, Unit_Gram, Unit_Tonne, "0.000"},                     {1.5, 1, Unit_Gram, Unit_Milligram, "1500.000"},
      {2.5, 1, Unit_AsOnScale, Unit_Gram, "2.500"},                 {2.5, 1, Unit_Kilogram, Unit_AsOnScale, "2.5"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(Returned(Reading(c.value, c.reported, 1, c.decimals), c.requested).text, c.text)
        << c.value << " from " << c.reported << " to " << c.requested;
  }
  EXPECT_DOUBLE_EQ(ConvertWeight(2.0, 7, Unit_Gram), 2.0) << "unknown units leave the weight alone";
  EXPECT_DOUBLE_EQ(ConvertWeight(2.0, Unit_Kilogram, -1), 2.0);
}

TEST(FormatWeight, PointLocaleCutsToThreeDecimalsWithoutFloatNoise) {
  const WeightReading kg = Reading(12.345, Unit_Kilogram, 1, 3);
  FormattedWeight f = Returned(kg, Unit_Gram);
  EXPECT_STREQ(f.text, "12345.000");
  EXPECT_DOUBLE_EQ(f.number, 12345.0);
  f = Returned(kg, Unit_Kilogram);
  EXPECT_STREQ(f.text, "12.345");
  EXPECT_DOUBLE_EQ(f.number, 12.345);
  f = Returned(Reading(-12.345, Unit_Kilogram, 1, 3), Unit_Gram);
  EXPECT_STREQ(f.text, "-12345.000");
}

TEST(FormatWeight, CommaLocaleGivesCommaTextAndTheSameNumber) {
  testing_support::ScopedLocale comma(testing_support::kCommaLocale);
  ASSERT_TRUE(comma.ok()) << "the ru_RU.UTF-8 locale is needed (see .ci/run)";
  UpdateDecimalSeparator();  // as opening a device in this locale does
  struct PointAgain {
    ~PointAgain() { DecimalSeparator = '.'; }
  } pointAgain;
  const WeightReading kg = Reading(12.345, Unit_Kilogram, 1, 3);
  FormattedWeight f = Returned(kg, Unit_Kilogram);
  EXPECT_STREQ(f.text, "12,345");
  EXPECT_DOUBLE_EQ(f.number, 12.345);
  f = Returned(kg, Unit_Gram);
  EXPECT_STREQ(f.text, "12345,000");
  EXPECT_DOUBLE_EQ(f.number, 12345.0);
}

TEST(FormatWeight, TheNumberNeverFollowsALocaleThatChangedAfterTheOpen) {
  const WeightReading kg = Reading(12.345, Unit_Kilogram, 1, 3);
  DecimalSeparator = ',';  // opened under a comma locale, read under "C"
  FormattedWeight f = Returned(kg, Unit_Kilogram);
  EXPECT_STREQ(f.text, "12,345");
  EXPECT_EQ(f.number, 12.345);
  DecimalSeparator = '.';
  testing_support::ScopedLocale comma(testing_support::kCommaLocale);
  ASSERT_TRUE(comma.ok()) << "the ru_RU.UTF-8 locale is needed (see .ci/run)";
  f = Returned(kg, Unit_Gram);
  EXPECT_STREQ(f.text, "12345.000");
  EXPECT_EQ(f.number, 12345.0);
}

TEST(FormatWeight, AsOnScaleKeepsTheReadingsOwnDecimalsUpToThree) {
  EXPECT_STREQ(Returned(Reading(1.5, Unit_Kilogram, 1, 1), Unit_AsOnScale).text, "1.5");
  EXPECT_STREQ(Returned(Reading(1.25, Unit_Kilogram, 1, 2), Unit_AsOnScale).text, "1.25");
  EXPECT_STREQ(Returned(Reading(1.2345, Unit_Kilogram, 1, 4), Unit_AsOnScale).text, "1.234");
  EXPECT_STREQ(Returned(Reading(12.0, Unit_Kilogram, 1, 0), Unit_AsOnScale).text, "12.000");
}

TEST(FormatWeight, CutTruncatesRatherThanRounds) {
  FormattedWeight f{};
  ASSERT_TRUE(FormatWeight(1.23456789, Reading(0, Unit_Kilogram, 1, 8), Unit_Kilogram, &f));
  EXPECT_STREQ(f.text, "1.234");
  EXPECT_DOUBLE_EQ(f.number, 1.234);
}

// A negative weight the cut leaves at zero is 0, never -0.
TEST(FormatWeight, ZeroAfterTheCutHasNoSign) {
  const FormattedWeight f = Returned(Reading(-0.4, Unit_Gram, 1, 1), Unit_Kilogram);
  EXPECT_STREQ(f.text, "0.000");
  EXPECT_EQ(f.number, 0.0);
  EXPECT_FALSE(std::signbit(f.number));
  EXPECT_STREQ(Returned(Reading(-0.5, Unit_Gram, 1, 1), Unit_AsOnScale).text, "-0.5") << "not zero: kept";
}

TEST(FormatWeight, SinglePrecisionNoiseNeverReachesTheResult) {
  // 12.345 as a float is 12.3450002670288...
  const WeightReading kg = Reading(12.345, Unit_Kilogram, 1, 3);
  EXPECT_STREQ(Returned(kg, Unit_Milligram).text, "12345000.000");
  EXPECT_DOUBLE_EQ(Returned(kg, Unit_Milligram).number, 12345000.0);
  EXPECT_DOUBLE_EQ(Returned(kg, Unit_Kilogram).number, 12.345);
  EXPECT_DOUBLE_EQ(Returned(Reading(0.1, Unit_Tonne, 1, 1), Unit_Gram).number, 100000.0);
  EXPECT_DOUBLE_EQ(Returned(Reading(1234.567, Unit_Gram, 1, 3), Unit_Kilogram).number, 1.234);
}

TEST(FormatWeight, WholeNumbersStayWholeUnlessConvertedIntoALargerUnit) {
  const WeightReading grams = Reading(1500.0, Unit_Gram, 0, 0);
  FormattedWeight f = Returned(grams, Unit_Kilogram);
  EXPECT_STREQ(f.text, "1.500");
  EXPECT_DOUBLE_EQ(f.number, 1.5) << "1500 g is 1.5 kg, not 2";
  EXPECT_DOUBLE_EQ(Returned(grams, Unit_Tonne).number, 0.001);
  EXPECT_STREQ(Returned(grams, Unit_Gram).text, "1500");
  EXPECT_STREQ(Returned(grams, Unit_AsOnScale).text, "1500");
  EXPECT_STREQ(Returned(grams, Unit_Milligram).text, "1500000");
  EXPECT_STREQ(Returned(Reading(2.0, Unit_Kilogram, 0, 0), Unit_Gram).text, "2000");
}

TEST(FormatWeight, AWeightThatDoesNotFitTheTextIsRefused) {
  const WeightReading point = Reading(0, Unit_Kilogram, 1, 3);
  FormattedWeight f{};
  EXPECT_TRUE(FormatWeight(1e15, point, Unit_AsOnScale, &f)) << "16 digits and six decimals fit";
  EXPECT_FALSE(FormatWeight(1e16, point, Unit_AsOnScale, &f));
  EXPECT_STREQ(f.text, "");
  const WeightReading whole = Reading(0, Unit_Tonne, 0, 0);
  EXPECT_TRUE(FormatWeight(1e22, whole, Unit_AsOnScale, &f));
  EXPECT_FALSE(FormatWeight(1e24, whole, Unit_AsOnScale, &f));
  EXPECT_FALSE(FormatWeight(ConvertWeight(1e15, Unit_Tonne, Unit_Milligram), point, Unit_Milligram, &f));
}

}  // namespace
