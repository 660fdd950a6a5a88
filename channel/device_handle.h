#pragma once
// The small object that stands for one device towards the channel and the
// protocol, and the three operations on a device's error.

#include <cstdint>

#include "platform/os.h"

namespace pesolan {

struct DeviceHandle {
  // A key from a process-wide counter: never 0 and never the key of a slot
  // that is claimed.
  DeviceHandle();
  // Releasing a handle disconnects its device.
  ~DeviceHandle();
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;

  int32_t key;
  int32_t lastError = 0;  // guard: the first recorded error wins
  int32_t ports[os::kMaxPort] = {};
  int32_t portCount = 0;
};

// The device's current error code. message (at least kMessageSize bytes) and
// number are optional outputs: the Windows-1251 message and the driver error
// number. Without a slot, the handle's own code answers.
int32_t GetError(const DeviceHandle& handle, char* message = nullptr, int32_t* number = nullptr);
// Records code unless an error is already recorded for the device.
void RecordError(DeviceHandle& handle, int32_t code);
// Back to NoError, but only when the device's current error is code.
void ClearError(DeviceHandle& handle, int32_t code);

}  // namespace pesolan
