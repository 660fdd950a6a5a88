#pragma once
// One dialogue with the scale of an opened device, streaming or answering
// requests, that yields one parsed weight line.

#include "channel/device_handle.h"
#include "protocol/weight_reading.h"

namespace pesolan {

// True when a line was parsed, with reading filled from it; reading is reset
// (all zero) first and stays so on failure. Data that never forms a weight
// line leaves Unknown_Data in the device's slot (when no other code was
// pending); a later successful reading clears it again.
bool ExchangeWeight(const DeviceHandle& handle, WeightReading* reading);

}  // namespace pesolan
