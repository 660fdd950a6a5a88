#pragma once
// One parsed weight line: what the parser makes of the scale's text and what
// the exchange hands back to the reading.

#include <cstdint>

namespace pesolan {

enum WeightUnit : int32_t {
  Unit_AsOnScale = 0,
  Unit_Milligram = 1,
  Unit_Gram = 2,
  Unit_Kilogram = 3,
  Unit_Tonne = 4,
};

enum Stability : int32_t { Stability_None = 0, Stability_Stable = 1, Stability_Unstable = 2 };

// All fields zero: a reset reading (before the first reading, after a failed
// exchange).
struct WeightReading {
  int32_t stability = Stability_None;
  uint8_t hasDecimalPoint = 0;
  uint8_t decimals = 0;  // characters after the first decimal point
  // As the scale gave it, sign applied. Double precision: a single-precision
  // value would bring its error into every conversion (12.345 t asked in
  // milligrams would come back as 12345000267).
  double value = 0.0;
  int32_t unit = Unit_AsOnScale;
};

}  // namespace pesolan
