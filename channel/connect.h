#pragma once
// Tying a device to a slot and opening its channel to the scale: an RS-232
// serial port or a TCP client connection.

#include <cstdint>

#include "channel/channel_settings.h"
#include "channel/device_handle.h"

namespace pesolan {

// Claims the lowest free slot for the device and opens its channel. True
// when the device holds a ready slot with an open channel; on failure the
// device's error code tells why (the slot may stay claimed until Disconnect).
bool Connect(DeviceHandle& handle, const ChannelSettings& settings);
// Opens the channel of the slot that bears key; called by Connect right
// after it claimed that slot.
bool OpenChannel(DeviceHandle& handle, int32_t key, int32_t rsPort);
// Fills list (room for os::kMaxPort entries) with the serial ports that
// exist, ascending; returns their count.
int ProbePorts(int32_t* list);
// Closes the device's channel and frees its slot. Always true.
bool Disconnect(DeviceHandle& handle);

}  // namespace pesolan
