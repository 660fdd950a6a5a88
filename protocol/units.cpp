#include <cmath>
#include <cstring>

#include "channel/decimal_separator.h"
#include "protocol/decimal.h"
#include "protocol/weight.h"

namespace pesolan {
namespace {

// Power of ten of each unit in grams, by WeightUnit code 1..4.
constexpr int kGramExponent[] = {0, -3, 0, 3, 6};
constexpr double kPowerOfTen[] = {1.0, 1e3, 1e6, 1e9};
// A weight with a point is written with six decimals before the cut.
constexpr int kWrittenDecimals = 6;

bool IsConvertible(int32_t unit) { return unit >= Unit_Milligram && unit <= Unit_Tonne; }

// Decimals kept after the separator.
int DigitsToKeep(const WeightReading& reading, int32_t requestedUnit) {
  if (requestedUnit != Unit_AsOnScale) return 3;
  if (reading.decimals == 1 || reading.decimals == 2) return reading.decimals;
  return 3;
}

// Power of ten by which converting from reported to requested multiplies.
int ShiftOf(int32_t reportedUnit, int32_t requestedUnit) {
  if (!IsConvertible(reportedUnit) || !IsConvertible(requestedUnit)) return 0;
  return kGramExponent[reportedUnit] - kGramExponent[requestedUnit];
}

// A decimal number in binary carries a little noise, which a conversion can
// bring into the six-decimal text (12.345 in a single-precision value, asked
// in grams, would read 12345.000267). Rounding to the decimals the scale's
// own digits carry in the requested unit removes it; the cut to the returned
// decimals stays a cut.
double WithoutFloatNoise(double weight, const WeightReading& reading, int32_t requestedUnit) {
  constexpr int kMostDecimals = 6;
  const int own = reading.hasDecimalPoint ? reading.decimals : 0;
  int decimals = own - ShiftOf(reading.unit, requestedUnit);
  if (decimals > kMostDecimals) return weight;
  if (decimals < 0) decimals = 0;
  // A table rather than pow(), whose current symbol version would keep the
  // library from loading on older Linux systems.
  static constexpr double kDecimalScale[kMostDecimals + 1] = {1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
  const double scale = kDecimalScale[decimals];
  return std::round(weight * scale) / scale;
}

bool DoesNotFit(FormattedWeight* out) {
  std::memset(out->text, 0, sizeof out->text);
  out->number = 0.0;
  return false;
}

}  // namespace

double ConvertWeight(double weight, int32_t reportedUnit, int32_t requestedUnit) {
  if (!IsConvertible(reportedUnit) || !IsConvertible(requestedUnit)) return weight;
  const int shift = ShiftOf(reportedUnit, requestedUnit) / 3;
  if (shift > 0) return weight * kPowerOfTen[shift];
  if (shift < 0) return weight / kPowerOfTen[-shift];
  return weight;
}

bool FormatWeight(double weight, const WeightReading& reading, int32_t requestedUnit, FormattedWeight* out) {
  // A whole number converted into a larger unit gains a fraction that must
  // not be rounded away: it is cut like a reading with a point.
  const bool intoLargerUnit =
      IsConvertible(reading.unit) && IsConvertible(requestedUnit) && requestedUnit > reading.unit;
  const bool cut = reading.hasDecimalPoint || intoLargerUnit;
  std::memset(out->text, 0, sizeof out->text);
  weight = WithoutFloatNoise(weight, reading, requestedUnit);
  char text[kWeightTextSize];
  const int written = WriteFixed(weight, cut ? kWrittenDecimals : 0, text, sizeof text);
  if (written < 0) return DoesNotFit(out);
  char* point = std::strchr(text, '.');
  if (point != nullptr) {
    const int keep = DigitsToKeep(reading, requestedUnit);
    if (point + 1 + keep < text + written) point[1 + keep] = '\0';
  }
  out->number = ReadDecimal(text);
  // A weight the cut leaves at zero is 0, not -0 (-0.4 g read in kg).
  if (out->number == 0.0 && text[0] == '-') {
    std::memmove(text, text + 1, std::strlen(text));
    out->number = 0.0;
  }
  // Only the text shows the separator of the locale the device was opened
  // in; the number never depends on it.
  const char separator = DecimalSeparator.load();
  for (int i = 0; text[i] != '\0'; ++i) out->text[i] = text[i] == '.' ? separator : text[i];
  return true;
}

}  // namespace pesolan
