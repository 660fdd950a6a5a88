// Weights as decimal text and back without the C runtime: the same results
// as strtod and printf in the "C" locale, bit for bit (that no locale takes
// part is shown where weights are read: units_test, addin_weight_test).

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "protocol/decimal.h"

using namespace pesolan;

namespace {

std::string Fixed(double x, int decimals) {
  char text[kMaxDecimalText + 40];
  return WriteFixed(x, decimals, text, sizeof text) < 0 ? "<none>" : text;
}

std::string Printf(double x, int decimals) {
  char text[128];
  std::snprintf(text, sizeof text, "%.*f", decimals, x);
  return text;
}

// Bit for bit, so that -0.0 and 0.0 differ.
::testing::AssertionResult SameDouble(double a, double b) {
  if (std::memcmp(&a, &b, sizeof a) == 0) return ::testing::AssertionSuccess();
  char text[80];
  std::snprintf(text, sizeof text, "%.17g and %.17g", a, b);
  return ::testing::AssertionFailure() << text;
}

TEST(Decimal, WritesWhatPrintfWritesInTheCLocale) {
  for (const double x : {0.0, -0.0, 12.345, -12.345, 0.5, 1.5, 2.5, -2.5, 0.0078125, 1e15, 999999.9999995,
                         0.0000005, 1234.5678, 9007199254740993.0, 1e-300, DBL_MIN / 4, 123456789012345678.0}) {
    for (int decimals = 0; decimals <= kMaxFixedDecimals; ++decimals) {
      ASSERT_EQ(Fixed(x, decimals), Printf(x, decimals)) << "decimals " << decimals;
    }
  }
  std::mt19937_64 random(20261207);
  for (int i = 0; i < 200000; ++i) {
    // Any bits, and weights of every size a scale could give.
    double x = 0;
    if (i % 2 == 0) {
      const uint64_t bits = random();
      std::memcpy(&x, &bits, sizeof x);
      if (!std::isfinite(x) || std::fabs(x) >= 1e30) continue;
    } else {
      x = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 120) - 100);
      if (random() % 2 != 0) x = -x;
    }
    const int decimals = static_cast<int>(random() % (kMaxFixedDecimals + 1));
    ASSERT_EQ(Fixed(x, decimals), Printf(x, decimals)) << "decimals " << decimals;
  }
}

TEST(Decimal, TiesGoToTheEvenNeighbourAsPrintfHasThem) {
  EXPECT_EQ(Fixed(0.5, 0), "0");
  EXPECT_EQ(Fixed(1.5, 0), "2");
  EXPECT_EQ(Fixed(2.5, 0), "2");
  EXPECT_EQ(Fixed(-0.4, 0), "-0");
  EXPECT_EQ(Fixed(0.0078125, 6), "0.007812") << "exactly halfway in binary";
  EXPECT_EQ(Fixed(0.0234375, 6), "0.023438");
}

TEST(Decimal, ATextThatDoesNotFitIsRefusedAndLeftEmpty) {
  char text[24];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(WriteFixed(1e15, 6, text, sizeof text), 23) << "23 characters and the NUL fit";
  EXPECT_STREQ(text, "1000000000000000.000000");
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(WriteFixed(1e16, 6, text, sizeof text), -1);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(WriteFixed(-1e15, 6, text, sizeof text), -1) << "the sign needs its place";
  EXPECT_EQ(WriteFixed(std::nan(""), 0, text, sizeof text), -1);
  EXPECT_EQ(WriteFixed(HUGE_VAL, 0, text, sizeof text), -1);
  EXPECT_EQ(WriteFixed(1.0, kMaxFixedDecimals + 1, text, sizeof text), -1);
}

TEST(Decimal, ReadsWhatStrtodReadsInTheCLocale) {
  for (const char* text : {"12.345", "-12.345", "0", "-0", "-0.000", "12.", ".5", "1.2.3", "12kg", "", "-", "007",
                           "0.1", "9007199254740993", "123456789012345678901234", "0.0000000000000000000001",
                           "1000000000000000.000000", "99999999999999.9", "2.2250738585072014"}) {
    EXPECT_TRUE(SameDouble(ReadDecimal(text), std::strtod(text, nullptr))) << '"' << text << '"';
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    // Up to 24 characters of digits with a point somewhere, as the parser
    // and the cut weight give them.
    std::string text = random() % 4 == 0 ? "-" : "";
    const int digits = 1 + static_cast<int>(random() % (kMaxDecimalText - text.size() - 1));
    const int point = static_cast<int>(random() % (digits + 1));
    for (int d = 0; d < digits; ++d) {
      if (d == point) text += '.';
      text += static_cast<char>('0' + random() % 10);
    }
    ASSERT_TRUE(SameDouble(ReadDecimal(text.c_str()), std::strtod(text.c_str(), nullptr))) << '"' << text << '"';
  }
}

}  // namespace
