#pragma once
// One dialogue with the scale of an opened device, streaming or answering
// requests, that leaves one parsed weight line in the device's slot.

#include "channel/device_handle.h"

namespace pesolan {

// True when a line was parsed and stored as the slot's lastReading. Data
// that never forms a weight line leaves Unknown_Data in the slot (when no
// other code was pending); a later successful reading clears it again.
bool ExchangeWeight(DeviceHandle& handle);

}  // namespace pesolan
