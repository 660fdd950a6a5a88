#pragma once
// Moving bytes over a slot's open channel, each operation bounded by its own
// time limit. The index is that of a claimed slot; when its channel is not
// open every operation answers false at once. None records an error code.

#include <cstdint>

#include "channel/device_handle.h"
#include "channel/reception.h"

namespace pesolan {

constexpr int kReplySize = 22;    // longest reply gathered by ReadReply
constexpr int kRequestSize = 22;  // longest request SendBytes takes

// The index of the device's slot, by which the operations below reach its
// channel; -1 when the device holds none.
int ChannelIndex(const DeviceHandle& handle);
// Serial or Tcp: the kind of channel the slot at index uses.
int32_t ChannelKindAt(int index);

// Discards what is pending (TCP: drains, then waits 80 ms after the last
// byte read, or 200 ms when nothing came; what comes in that wait is kept
// for the reads that follow). A serial port's pace is judged from here.
bool PurgeChannel(int index);
// Discards what has come and not been taken, without waiting: bytes that
// are there before a request goes out are no answer to it.
bool DiscardPending(int index);
// Purges, then true when the scale sends by itself: on a serial port a byte
// queued within 300 ms (left queued); on TCP a byte readable at once (taken).
bool WaitForData(int index);
// Sends count (1..22) bytes; on a serial port waits up to 256 ms for the
// transmitter to empty. A failed TCP send closes the connection.
bool SendBytes(int index, const uint8_t* bytes, int count);
// One byte within 80 ms (serial) or 128 ms (TCP); byte is 0 when none came.
// origin, when given, tells how it came.
bool ReadByte(int index, uint8_t* byte, ByteOrigin* origin = nullptr);
// Up to 22 bytes, ended by 22 bytes, by 80 ms of silence after a byte, or by
// no first byte within 350 ms (serial) or 300 ms (TCP). buffer and count are
// written only when at least one byte came; origin, when given, is old when
// any of them was old, with the count behind the last.
bool ReadReply(int index, uint8_t* buffer, int* count, ByteOrigin* origin = nullptr);

}  // namespace pesolan
