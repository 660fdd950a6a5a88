#pragma once
// A Windows serial port's waits, writes and opens, as logic of their own so
// that they can be tried without one. A port whose driver aborts reads on
// line errors (fAbortOnError) ends a pending read early when a parity,
// framing, overrun or break error comes, and fails every read and write
// until the error is cleared: the error is cleared and the wait goes on
// for the time left, as polling the queue would have done.

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
      case ReadEnd::Failed: return false;
      case ReadEnd::TimeUp:
        // A read that ends without a byte is time up only by the clock: a
        // driver that does not keep the zeroed time-outs ends it early.
        if (port.Now() - start >= ms) return true;
        port.Pause(1);
        break;
      case ReadEnd::LineError:
        // A line held in error fails every read at once: no spinning.
        port.Pause(1);
        break;
    }
  }
}

// Port provides ClearAndCount as above and bool Write(const uint8_t*,
// uint32_t). A port that aborts on line errors fails every write while one
// is pending, and a request that fails so is lost: the error is cleared
// first.
template <typename Port>
bool WriteClearingErrors(Port& port, const uint8_t* bytes, uint32_t count) {
  uint32_t queued = 0;
  port.ClearAndCount(&queued);  // only the clearing matters
  return port.Write(bytes, count);
}

// How an exclusive open of a port ended.
enum class OpenEnd { Opened, Held, Failed };

// Port provides uint32_t Now(), OpenEnd Open() and void Pause(uint32_t ms).
// Where the system names no COM port, finding the ports opens each for a
// moment, and may hold the very port an open in another thread wants: a
// port that is held is tried again for up to ms before it counts as another
// program's.
template <typename Port>
OpenEnd OpenTakingTurns(Port& port, uint32_t ms) {
  constexpr uint32_t kRetryMs = 10;
  const uint32_t start = port.Now();
  for (;;) {
    const OpenEnd end = port.Open();
    if (end != OpenEnd::Held || port.Now() - start >= ms) return end;
    port.Pause(kRetryMs);
  }
}

}  // namespace os
