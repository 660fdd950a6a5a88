#pragma once
// The scale's weight text: parsing a line into a reading, converting between
// units and cutting the weight to the decimals the driver returns.

#include <cstdint>

#include "protocol/weight_reading.h"

namespace pesolan {

constexpr int kWeightTextSize = 24;  // 23 characters and the NUL

// Parses the first length bytes. True, with the whole reading written, when
// they form a weight line: a stability letter (S or U) in the first five
// bytes, a number that starts after a space or a minus and ends, and a unit
// letter (K, G or T) after it. False leaves reading untouched.
bool ParseWeightLine(const uint8_t* bytes, int length, WeightReading* reading);

// Brings weight from the reported unit into the requested one; unit 0 on
// either side leaves it unchanged.
double ConvertWeight(double weight, int32_t reportedUnit, int32_t requestedUnit);

struct FormattedWeight {
  // With DecimalSeparator as its decimal mark: the text of the device test
  // report.
  char text[kWeightTextSize];
  double number;  // what the text stands for, whatever the locale

};

// Cuts the converted weight of reading to the returned decimals (truncating
// the six-decimal text). False when the weight does not fit the text.
bool FormatWeight(double weight, const WeightReading& reading, int32_t requestedUnit, FormattedWeight* out);

}  // namespace pesolan
