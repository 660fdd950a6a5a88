// ConvertWeight and FormatWeight with any weight and pair of units: the text
// always fits, and the number is what the text says. The locale-free decimal
// conversions they use write and read exactly what printf and strtod do in
// the "C" locale.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <cstdio>

#include "protocol/decimal.h"
#include "protocol/weight.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < sizeof(double) + 4) return 0;
  double weight;
  std::memcpy(&weight, data, sizeof weight);
  const int decimals = data[11] % (pesolan::kMaxFixedDecimals + 1);
  char mine[64], runtime[400];
  if (pesolan::WriteFixed(weight, decimals, mine, sizeof mine) >= 0) {
    std::snprintf(runtime, sizeof runtime, "%.*f", decimals, weight);
    if (std::strcmp(mine, runtime) != 0) std::abort();
    mine[pesolan::kMaxDecimalText] = '\0';
    const double read = pesolan::ReadDecimal(mine);
    const double expected = std::strtod(mine, nullptr);
    if (std::memcmp(&read, &expected, sizeof read) != 0) std::abort();
  }
  pesolan::WeightReading reading;
  reading.unit = static_cast<int8_t>(data[8]) % 6;
  reading.hasDecimalPoint = data[9] & 1;
  reading.decimals = data[10];
  const int32_t requested = static_cast<int8_t>(data[11]) % 6;
  reading.value = weight;
  const double converted = pesolan::ConvertWeight(reading.value, reading.unit, requested);
  pesolan::FormattedWeight out;
  std::memset(&out, 0x55, sizeof out);
  if (pesolan::FormatWeight(converted, reading, requested, &out)) {
    if (std::memchr(out.text, '\0', sizeof out.text) == nullptr) std::abort();
    if (std::strlen(out.text) == 0 || std::strlen(out.text) > 23) std::abort();
    if (std::isfinite(out.number) && std::atof(out.text) != out.number) std::abort();
  } else if (out.text[0] != '\0') {
    std::abort();  // nothing half-written is left behind
  }
  return 0;
}
