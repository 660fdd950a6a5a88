#pragma once
// The small object that stands for one device towards the channel and the
// protocol.

#include <cstdint>

namespace pesolan {

struct DeviceHandle {
  // A key from the process-wide counter: never 0 and never the key of a
  // slot that is claimed.
  DeviceHandle();
  // Releasing a handle disconnects its device.
  ~DeviceHandle();
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;

  int32_t key;
  int32_t lastError = 0;  // guard: the first recorded error wins
};

}  // namespace pesolan
