#pragma once
// The component's table of up to 8 open devices, found by their numbers.

#include <cstdint>
#include <memory>

#include "channel/channel_settings.h"
#include "channel/device_handle.h"
#include "driver/settings.h"
#include "protocol/reading.h"

namespace pesolan {

constexpr int kDeviceCount = 8;

struct DeviceEntry {
  int32_t number = 0;  // 0 while free, else its position 1..8
  ChannelSettings channel;
  std::unique_ptr<DeviceHandle> handle;
  float tare = 0.0f;
  uint8_t allowUnstable = 0;  // copied at opening; readings use the component's
  int32_t unit = 0;
};

class DeviceRegistry {
 public:
  // Opens a device in the lowest free entry with the settings; its number,
  // or 0 when all 8 are in use. A channel that fails to open still gives a
  // number; the reason is in the last error.
  int32_t OpenDevice(const ConnectionSettings& settings);
  // True when an open device with that number was closed (after a pause of
  // 256 ms between its two disconnects).
  bool CloseDevice(int32_t number);
  DeviceEntry* FindDevice(int32_t number);
  // Releases every open device at once, without the pause.
  void ReleaseAll();

  int32_t currentDevice = -1;
  ErrorRecord lastError;

 private:
  DeviceEntry entries_[kDeviceCount];
};

}  // namespace pesolan
