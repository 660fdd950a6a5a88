#pragma once
// The component's current settings, filled parameter by parameter through
// SetParameter and copied into each device that Open opens.

#include <cstddef>
#include <cstdint>

#include "channel/channel_settings.h"

namespace pesolan {

constexpr int kEquipmentTypeSize = 64;
constexpr size_t kIpLength = 15;
constexpr size_t kEquipmentTypeLength = 23;

struct ConnectionSettings {
  ChannelSettings channel;
  int32_t unit = 0;       // WeightUnit of the readings
  int32_t timeout = 0;    // stored only
  uint8_t allowUnstable = 0;
  char equipmentType[kEquipmentTypeSize] = {};  // stored only
};

enum class ParameterKind { Integer, Text };

// A value as the add-in boundary hands it over: an integer (valid is false
// when the host's value is no whole number), or a Windows-1251 text (valid is
// false when it was too long to take).
struct ParameterValue {
  bool valid;
  int32_t integer;
  const char* text;
};

// Index of the parameter with exactly this name ("EquipmentType" or one of
// the Prm_ names), or -1.
int FindParameter(const char16_t* name, size_t length);
ParameterKind KindOfParameter(int index);
// Stores value by the parameter's rule. False, with nothing stored, when the
// value is invalid or outside the parameter's accepted set.
bool StoreParameter(ConnectionSettings& settings, int index, const ParameterValue& value);

}  // namespace pesolan
