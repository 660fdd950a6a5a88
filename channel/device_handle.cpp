#include "channel/device_handle.h"

#include <cstring>

#include "channel/connect.h"
#include "channel/error_codes.h"
#include "channel/slot_table.h"

namespace pesolan {
namespace {

uint32_t g_lastKey = 0;

int32_t NextKey() {
  for (;;) {
    const int32_t key = static_cast<int32_t>(++g_lastKey);
    // After the counter wraps, keys still held by a claimed slot are skipped.
    if (key != 0 && FindSlot(key) < 0) return key;
  }
}

}  // namespace

DeviceHandle::DeviceHandle() : key(NextKey()) {}

DeviceHandle::~DeviceHandle() { Disconnect(*this); }

int32_t GetError(const DeviceHandle& handle, char* message, int32_t* number) {
  const int index = FindSlot(handle.key);
  const int32_t code = index >= 0 ? SlotTable[index].errorCode : handle.lastError;
  if (message != nullptr) {
    std::strncpy(message, ErrorMessage(code), kMessageSize - 1);
    message[kMessageSize - 1] = '\0';
  }
  if (number != nullptr) *number = DriverErrorNumber(code);
  return code;
}

void RecordError(DeviceHandle& handle, int32_t code) {
  if (handle.lastError != NoError) return;
  const int index = FindSlot(handle.key);
  handle.lastError = code;
  if (index >= 0) SlotTable[index].errorCode = code;
}

void ClearError(DeviceHandle& handle, int32_t code) {
  if (GetError(handle) != code) return;
  const int index = FindSlot(handle.key);
  handle.lastError = NoError;
  if (index >= 0) SlotTable[index].errorCode = NoError;
}

}  // namespace pesolan
