#pragma once
// Waiting for a received byte on a Windows serial port, as logic of its own
// so that it can be tried without one. A port whose driver aborts reads on
// line errors (fAbortOnError) ends a pending read early when a parity,
// framing, overrun or break error comes, and fails every read until the
// error is cleared: the error is cleared and the wait goes on for the time
// left, as polling the queue would have done.

#include <cstdint>

namespace os {

// How one attempt to read a byte ended.
enum class ReadEnd { Byte, TimeUp, LineError, Failed };

// Port provides:
//   uint32_t Now();                  the millisecond tick
//   bool ClearAndCount(uint32_t* n); clears a line error; n: bytes queued
//   ReadEnd ReadOne(uint32_t ms);    one byte within ms, held by the port
//   void Pause(uint32_t ms);
// True when the wait itself worked; *byteCame when a byte is queued or was
// taken within ms.
template <typename Port>
bool WaitForQueuedByte(Port& port, uint32_t ms, bool* byteCame) {
  *byteCame = false;
  const uint32_t start = port.Now();
  for (;;) {
    uint32_t queued = 0;
    if (!port.ClearAndCount(&queued)) return false;
    if (queued > 0) {
      *byteCame = true;
      return true;
    }
    const uint32_t passed = port.Now() - start;
    if (passed >= ms) return true;
    switch (port.ReadOne(ms - passed)) {
      case ReadEnd::Byte: *byteCame = true; return true;
      case ReadEnd::TimeUp: return true;
      case ReadEnd::Failed: return false;
      case ReadEnd::LineError:
        // A line held in error fails every read at once: no spinning.
        port.Pause(1);
        break;
    }
  }
}

}  // namespace os
