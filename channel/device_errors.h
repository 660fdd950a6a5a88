#pragma once
// A device's error code: kept both in its handle (the guard that lets the
// first recorded error win) and in its slot (what GetError reports). Every
// change of a device's code goes through the functions here, each carrying
// its own rule.

#include <cstdint>

#include "channel/device_handle.h"
#include "channel/error_codes.h"

namespace pesolan {

struct DeviceSlot;

// The device's current error code. message (at least kMessageSize bytes) and
// number are optional outputs: the Windows-1251 message and the driver error
// number. Without a slot, the handle's own code answers.
int32_t GetError(const DeviceHandle& handle, char* message = nullptr, int32_t* number = nullptr);
// Records code unless an error is already recorded for the device.
void RecordError(DeviceHandle& handle, int32_t code);
// Back to NoError, but only when the device's current error is code.
void ClearError(DeviceHandle& handle, int32_t code);

// A slot being claimed starts with the code that the handle holds.
void CarryErrorIntoSlot(const DeviceHandle& handle, DeviceSlot& record);
// The serial port cannot be used: the slot reports Port_Open_Error whatever
// the guard held, and the guard records it if it was clear.
void RecordPortOpenError(DeviceHandle& handle);
// The TCP connection failed or was never tried: Tcp_Connect_Error in the
// slot only, as a refused connection leaves it; cleared from the slot by a
// connection that succeeds.
void RecordTcpConnectError(const DeviceHandle& handle);
void ClearTcpConnectError(const DeviceHandle& handle);
// Bytes that form no usable weight: Unknown_Data in the slot only, and only
// when no other code is pending there; the next reading that succeeds clears
// it from the slot again.
void RecordUnknownData(const DeviceHandle& handle);
void ClearUnknownData(const DeviceHandle& handle);
// The refused tare command: recorded, and shown by the slot.
void RecordTareNotSupported(DeviceHandle& handle);

}  // namespace pesolan
