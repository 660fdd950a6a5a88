#pragma once
// What a reading has received, kept so that it can tell the bytes the scale
// sends now from old ones that waited somewhere on the way while nobody
// read: in the socket's buffers or the scale's own queue, in the tty, in a
// USB-serial adapter's buffer (which a purge of the port does not reach).
//
// Two signs give old bytes away. They come in bulk: a backlog arrives many
// lines at once, while a scale sends its lines one by one, so a line with a
// line's worth of bytes queued behind it was not the newest. And on a serial
// line they come too fast: since the purge, the line can have carried only
// so many bytes; any more were on their way before it.

#include <cstdint>

namespace pesolan {

// How a byte reached the reader.
struct ByteOrigin {
  // Bytes that had arrived behind it when it was received from the system.
  uint32_t behind = 0;
  // More bytes had come by then than the serial line can carry since the
  // purge, and this was one of the first of them: it is from before.
  bool old = false;
};

constexpr int kIntakeSize = 256;

// What came during a TCP purge's wait, taken in as it arrived and kept for
// the reads that follow, each byte with the count that came behind it in
// the same arrival.
struct Intake {
  uint8_t bytes[kIntakeSize] = {};
  uint8_t behind[kIntakeSize] = {};  // at most 255
  int count = 0;
  int taken = 0;
  // More came than it holds: bulk, thrown away. The scale was sending.
  bool overflowed = false;
  bool empty() const { return taken >= count; }
  void clear() { count = taken = 0; }
  // Appends one arrival; false, and nothing kept, when it does not fit.
  bool Add(const uint8_t* arrival, int size);
  // The next byte kept, and how it came.
  uint8_t Take(ByteOrigin* origin);
};

// The pace of a serial line since its input was purged.
struct SerialPace {
  uint64_t purgedUs = 0;
  uint32_t charMicroseconds = 1042;  // one character on the line
  uint32_t taken = 0;                // bytes taken since the purge
  uint32_t oldBelow = 0;             // the first this many of them are old
  void Restart(uint64_t nowUs, uint32_t microsecondsPerChar);
  // Judges the byte just taken, with queued bytes behind it, at nowUs.
  ByteOrigin Judge(uint32_t queued, uint64_t nowUs);
};

struct Reception {
  Intake intake;
  SerialPace pace;
  // The peer's closing is traced once a reading (a closed socket reads as
  // ready for ever).
  bool closedTraced = false;
};

}  // namespace pesolan
