#pragma once
// The process-wide table of 256 device slots, shared by every component
// object of the process, whichever thread it runs on.
//
// A slot's key is only read and written under the table's lock, so that
// claiming, finding and freeing slots are safe from several threads. The
// other fields of a claimed slot belong to the device that holds it and are
// used only by the call that is using that device.

#include <cstdint>

#include "channel/channel_settings.h"
#include "channel/reception.h"
#include "platform/os.h"

namespace pesolan {

constexpr int kSlotCount = 256;

struct TraceLog;

struct DeviceSlot {
  int32_t key = 0;  // 0: the slot is free
  int32_t errorCode = 0;
  ChannelSettings settings;
  os::SerialPort comHandle = nullptr;
  bool ready = false;
  os::Socket socket = os::kNoSocket;
  int32_t channelKind = Channel_None;
  // What the device's current reading has received (see reception.h).
  Reception reception;
  // The trace of the device's current open or reading (see trace.h): its
  // lines, null when not traced; how many scopes hold it; when it began.
  TraceLog* trace = nullptr;
  int traceDepth = 0;
  uint32_t traceStart = 0;
};

// Every slot starts with its defaults when the library is loaded.
extern DeviceSlot SlotTable[kSlotCount];

// Sets every slot to its defaults again.
void ResetSlotTable();
// Index of the first slot whose key equals key, or -1. Key 0 finds the
// lowest free slot that no device has reserved.
int FindSlot(int32_t key);
// Reserves the lowest free slot for a device that is being connected, so
// that no other device can take it; -1 when every slot is taken.
int ReserveSlot();
// Writes the whole record (with its non-zero key) into a reserved slot: the
// device now holds it.
void FillSlot(int index, const DeviceSlot& record);
// Gives a reserved slot back unfilled.
void CancelReservation(int index);
// Frees a claimed slot; its other fields stay until the next claim.
void FreeSlot(int index);
// A new device key from the process-wide counter: never 0, and never the key
// of a claimed slot.
int32_t TakeKey();

}  // namespace pesolan
