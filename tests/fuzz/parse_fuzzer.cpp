// ParseWeightLine with any bytes and lengths: never reads past length, and a
// line it accepts gives a complete reading.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "channel/decimal_separator.h"
#include "protocol/weight.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  pesolan::DecimalSeparator = (data[0] & 1) ? ',' : '.';
  // An exact-size copy, so that reading one byte too far is caught.
  std::vector<uint8_t> line(data + 1, data + size);
  pesolan::WeightReading reading;
  reading.value = 42.0f;
  if (pesolan::ParseWeightLine(line.data(), static_cast<int>(line.size()), &reading)) {
    if (reading.stability != 1 && reading.stability != 2) std::abort();
    if (reading.unit < 2 || reading.unit > 4) std::abort();
    if (!reading.hasDecimalPoint && reading.decimals != 0) std::abort();
    if (reading.decimals > 14) std::abort();
  } else if (reading.value != 42.0f || reading.unit != 0) {
    std::abort();  // a refused line leaves the reading alone
  }
  return 0;
}
