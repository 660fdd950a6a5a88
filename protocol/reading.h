#pragma once
// The one place where the driver obtains a weight: the exchange, the unit
// conversion and cut, the rule on unstable weights and the error codes.

#include <cstdint>

#include "channel/device_errors.h"
#include "channel/device_handle.h"
#include "protocol/weight.h"

namespace pesolan {

// The component's last error as the application reads it: a driver error
// number (100 plus the code, 0 for none) and its Windows-1251 message.
struct ErrorRecord {
  int32_t code = 0;
  char text[kMessageSize] = {};

  void TakeFrom(const DeviceHandle& handle) { GetError(handle, text, &code); }
  void Clear() {
    code = 0;
    text[0] = '\0';
  }
};

// What a reading uses of a device: its handle, tare and requested unit.
struct WeightSource {
  DeviceHandle& handle;
  float tare;
  int32_t unit;
};

// Reads the device's weight. number (optional) gets the weight, 0 when no
// weight came; text (optional, kWeightTextSize zeroed bytes) gets its
// characters without a terminator. allowUnstable is the component's current
// setting; lastError its record. parsed (optional) gets the line as the scale
// gave it, all zero when none came. True when a weight was read and may be
// used.
bool ReadWeight(const WeightSource& device, bool allowUnstable, ErrorRecord& lastError, double* number,
                char* text, WeightReading* parsed = nullptr);

}  // namespace pesolan
