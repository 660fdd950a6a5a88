#include "channel/device_errors.h"

#include <cstring>

#include "channel/slot_table.h"

namespace pesolan {
namespace {

// The code of the device's slot, or nullptr when it holds none. Only the
// device's own call uses the slot's fields.
int32_t* SlotCode(const DeviceHandle& handle) {
  const int index = FindSlot(handle.key);
  return index >= 0 ? &SlotTable[index].errorCode : nullptr;
}

// The slot reports code whatever the guard holds.
void ShowInSlot(const DeviceHandle& handle, int32_t code) {
  if (int32_t* slot = SlotCode(handle)) *slot = code;
}

// Changes the slot's code from `from` to `to`, and nothing otherwise.
void ReplaceInSlot(const DeviceHandle& handle, int32_t from, int32_t to) {
  int32_t* slot = SlotCode(handle);
  if (slot != nullptr && *slot == from) *slot = to;
}

// Recorded if the guard is clear, and shown by the slot whatever it held.
void RecordAndShow(DeviceHandle& handle, int32_t code) {
  RecordError(handle, code);
  ShowInSlot(handle, code);
}

}  // namespace

int32_t GetError(const DeviceHandle& handle, char* message, int32_t* number) {
  const int32_t* slot = SlotCode(handle);
  const int32_t code = slot != nullptr ? *slot : handle.lastError;
  if (message != nullptr) {
    std::strncpy(message, ErrorMessage(code), kMessageSize - 1);
    message[kMessageSize - 1] = '\0';
  }
  if (number != nullptr) *number = DriverErrorNumber(code);
  return code;
}

void RecordError(DeviceHandle& handle, int32_t code) {
  if (handle.lastError != NoError) return;
  handle.lastError = code;
  ShowInSlot(handle, code);
}

void ClearError(DeviceHandle& handle, int32_t code) {
  if (GetError(handle) != code) return;
  handle.lastError = NoError;
  ShowInSlot(handle, NoError);
}

void CarryErrorIntoSlot(const DeviceHandle& handle, DeviceSlot& record) { record.errorCode = handle.lastError; }

void RecordPortOpenError(DeviceHandle& handle) { RecordAndShow(handle, Port_Open_Error); }

void RecordTcpConnectError(const DeviceHandle& handle) { ShowInSlot(handle, Tcp_Connect_Error); }

void ClearTcpConnectError(const DeviceHandle& handle) { ReplaceInSlot(handle, Tcp_Connect_Error, NoError); }

void RecordUnknownData(const DeviceHandle& handle) { ReplaceInSlot(handle, NoError, Unknown_Data); }

void ClearUnknownData(const DeviceHandle& handle) { ReplaceInSlot(handle, Unknown_Data, NoError); }

void RecordTareNotSupported(DeviceHandle& handle) { RecordAndShow(handle, Tare_Not_Supported); }

}  // namespace pesolan
