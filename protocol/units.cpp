#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocol/weight.h"

namespace pesolan {
namespace {

// Power of ten of each unit in grams, by WeightUnit code 1..4.
constexpr int kGramExponent[] = {0, -3, 0, 3, 6};
constexpr double kPowerOfTen[] = {1.0, 1e3, 1e6, 1e9};

bool IsConvertible(int32_t unit) { return unit >= Unit_Milligram && unit <= Unit_Tonne; }

// Decimals kept after the separator.
int DigitsToKeep(const WeightReading& reading, int32_t requestedUnit) {
  if (requestedUnit != Unit_AsOnScale) return 3;
  if (reading.decimals == 1 || reading.decimals == 2) return reading.decimals;
  return 3;
}

bool DoesNotFit(FormattedWeight* out) {
  std::memset(out->text, 0, sizeof out->text);
  out->number = 0.0;
  return false;
}

}  // namespace

double ConvertWeight(double weight, int32_t reportedUnit, int32_t requestedUnit) {
  if (!IsConvertible(reportedUnit) || !IsConvertible(requestedUnit)) return weight;
  const int shift = (kGramExponent[reportedUnit] - kGramExponent[requestedUnit]) / 3;
  if (shift > 0) return weight * kPowerOfTen[shift];
  if (shift < 0) return weight / kPowerOfTen[-shift];
  return weight;
}

bool FormatWeight(double weight, const WeightReading& reading, int32_t requestedUnit, FormattedWeight* out) {
  // A whole number converted into a larger unit gains a fraction that must
  // not be rounded away: it is cut like a reading with a point.
  const bool intoLargerUnit =
      IsConvertible(reading.unit) && IsConvertible(requestedUnit) && requestedUnit > reading.unit;
  std::memset(out->text, 0, sizeof out->text);
  int written;
  if (reading.hasDecimalPoint || intoLargerUnit) {
    written = std::snprintf(out->text, sizeof out->text, "%lf", weight);
    if (written < 0 || written >= kWeightTextSize) return DoesNotFit(out);
    char* separator = std::strpbrk(out->text, ".,");
    if (separator != nullptr) {
      const int keep = DigitsToKeep(reading, requestedUnit);
      if (separator + 1 + keep < out->text + written) separator[1 + keep] = '\0';
    }
  } else {
    written = std::snprintf(out->text, sizeof out->text, "%.f", weight);
    if (written < 0 || written >= kWeightTextSize) return DoesNotFit(out);
  }
  out->number = std::atof(out->text);
  return true;
}

}  // namespace pesolan
