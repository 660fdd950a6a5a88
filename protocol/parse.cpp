#include "protocol/decimal.h"
#include "protocol/weight.h"

namespace pesolan {
namespace {

constexpr int kStabilityPositions = 5;
constexpr int kNumberTextSize = 16;  // 15 characters kept and the NUL

bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }

int32_t StabilityOf(uint8_t b) {
  if (b == 'S' || b == 's') return Stability_Stable;
  if (b == 'U' || b == 'u') return Stability_Unstable;
  return Stability_None;
}

int32_t UnitOf(uint8_t b) {
  if (b == 'K' || b == 'k') return Unit_Kilogram;
  if (b == 'G' || b == 'g') return Unit_Gram;
  if (b == 'T' || b == 't') return Unit_Tonne;
  return Unit_AsOnScale;
}

}  // namespace

bool ParseWeightLine(const uint8_t* bytes, int length, WeightReading* reading) {
  int32_t stability = Stability_None;
  int32_t unit = Unit_AsOnScale;
  bool inNumber = false, numberEnded = false, negative = false, point = false;
  char number[kNumberTextSize] = {};
  int kept = 0, fromPoint = 0;

  for (int i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    if (stability == Stability_None && i < kStabilityPositions) stability = StabilityOf(b);
    if (i > 0 && (bytes[i - 1] == ' ' || bytes[i - 1] == '-') && IsDigit(b)) {
      inNumber = true;
    } else if (inNumber && !IsDigit(b) && b != '.') {
      numberEnded = true;
      inNumber = false;
    }
    if (b == '-') negative = true;
    if (inNumber) {
      if (kept == kNumberTextSize - 1) break;  // a sixteenth character is not kept
      if (b == '.') point = true;
      number[kept++] = static_cast<char>(b);
      if (point) ++fromPoint;
    }
    if (numberEnded && unit == Unit_AsOnScale) unit = UnitOf(b);
  }

  if (kept == 0) return false;
  if (stability == Stability_None || !numberEnded || unit == Unit_AsOnScale) return false;
  // Read the same way whatever the process's locale is at this moment.
  double value = ReadDecimal(number);
  if (negative) value = -value;
  reading->stability = stability;
  reading->hasDecimalPoint = point ? 1 : 0;
  reading->decimals = static_cast<uint8_t>(point ? fromPoint - 1 : 0);
  reading->value = value;
  reading->unit = unit;
  return true;
}

}  // namespace pesolan
