// core-demo: reads weights from a scale through the driver's core (slots,
// channel, exchange, parsing), without the add-in around it.
//   core-demo HOST PORT [COUNT]

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "channel/connect.h"
#include "channel/error_codes.h"
#include "protocol/exchange.h"
#include "protocol/weight.h"

using namespace pesolan;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: core-demo HOST PORT [COUNT]\n");
    return 2;
  }
  ChannelSettings settings;
  settings.connType = 2;
  settings.tcpPort = std::atoi(argv[2]);
  std::snprintf(settings.ip, sizeof settings.ip, "%s", argv[1]);
  const int count = argc > 3 ? std::atoi(argv[3]) : 1;

  DeviceHandle device;
  if (!Connect(device, settings)) {
    int32_t number = 0;
    GetError(device, nullptr, &number);
    std::printf("connect failed: error %d\n", static_cast<int>(number));
    return 1;
  }
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    if (!ExchangeWeight(device)) {
      int32_t number = 0;
      GetError(device, nullptr, &number);
      std::printf("no weight (error %d)\n", static_cast<int>(number));
      ++failures;
      continue;
    }
    const WeightReading& r = SlotTable[FindSlot(device.key)].lastReading;
    static const char* const kUnits[] = {"", "mg", "g", "kg", "t"};
    FormattedWeight grams{};
    FormatWeight(ConvertWeight(r.value, r.unit, Unit_Gram), r, Unit_Gram, &grams);
    std::printf("weight %.3f %s (%s), %s g\n", static_cast<double>(r.value), kUnits[r.unit],
                r.stability == Stability_Stable ? "stable" : "unstable", grams.text);
  }
  return failures == 0 ? 0 : 1;
}
