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
// for the reads that follow). The pace of what comes is judged from the
// moment the channel was found empty (see reception.h).
bool PurgeChannel(int index);
// Discards what has come and not been taken, without waiting: bytes that
// are there before a request goes out are no answer to it. The pace is
// judged afresh from here.
bool DiscardPending(int index);
// The byte WaitForData took of a TCP stream to see it.
struct Detected {
  bool taken = false;
  uint8_t byte = 0;
  ByteOrigin origin;
};
// Purges, then true when the scale sends by itself: on a serial port a byte
// queued within 300 ms (left queued); on TCP a byte readable at once (taken,
// and given in detected).
bool WaitForData(int index, Detected* detected = nullptr);
// Sends count (1..22) bytes; on a serial port waits up to 256 ms for the
// transmitter to empty. A failed TCP send closes the connection.
bool SendBytes(int index, const uint8_t* bytes, int count);
// Waits ms, as after a TCP send. A traced reading notes when bytes came
// meanwhile, for the trace's stamps; they are neither taken nor judged.
void Pause(int index, uint32_t ms);
// One byte within 80 ms (serial) or 128 ms (TCP); byte is 0 when none came.
// origin, when given, tells how it came.
bool ReadByte(int index, uint8_t* byte, ByteOrigin* origin = nullptr);
// Up to 22 bytes, ended by 22 bytes, by 80 ms of silence after a byte, or by
// no first byte within 350 ms (serial) or 300 ms (TCP). buffer and count are
// written only when at least one byte came; origin, when given, is the last
// byte's, and old when any of them was old.
bool ReadReply(int index, uint8_t* buffer, int* count, ByteOrigin* origin = nullptr);
// Looks at what has come since the last look, without taking it: bytes
// that came since may show that bytes taken earlier were old, or that more
// waits behind them; nothing waiting shows the reader caught up. False when
// the channel is not open.
bool LookAgain(int index);
// A byte taken earlier, judged as the last look leaves it.
void JudgeByte(int index, ByteOrigin* origin);
// The reading went on past a line it could have ended with, to take a newer
// one: the next purge waits as if it had found the bytes it would have left.
void NoteReadAhead(int index);

}  // namespace pesolan
