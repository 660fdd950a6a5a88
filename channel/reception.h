#pragma once
// What a reading has received, kept so that it can tell the bytes the scale
// sends now from old ones that waited somewhere on the way while nobody
// read: in the socket's buffers or a converter's, in the tty, in a
// USB-serial adapter's buffer (which a purge of the port does not reach).
//
// The sign is pace. Behind the scale's wire a line carries at most one
// character per character time (about 960 bytes a second at 9600 baud),
// however the bytes are then packed on the way: a converter's pack, a
// virtual COM port's burst, Nagle, a host that reads late. So since the
// channel was last found empty no more bytes can come than that pace
// allows, plus what was already on its way then (a converter's pack on
// TCP, a character or two on a serial line). Bytes beyond that were
// waiting before, and so was everything that came ahead of them: a
// reading that sees such a flow takes every byte as old until it has
// caught up with it (nothing waits), and the pace is judged afresh from
// the flow's last arrival, now with a character or two for what was on its
// way: the allowance for a pack is spent. The end of a backlog is
// therefore never taken for the scale's newest line, however it is cut
// into arrivals and however they are spaced.

#include <cstdint>

namespace pesolan {

// How a byte reached the reader.
struct ByteOrigin {
  // Its number among the bytes taken since the channel was found empty.
  uint32_t sequence = 0;
  // Bytes known to have come behind it, at the last look.
  uint32_t behind = 0;
  // It came beyond the pace since the channel was found empty: from before.
  bool old = false;
  // It is the first byte since the channel was found empty right after a
  // line's end: the start of a line, not a part of one.
  bool lineStart = false;
};

class Pace {
 public:
  // The channel was found empty at nowUs: from here, a character every
  // charUs (with the scale's clock up to 5% fast), and allowance bytes that
  // were already on their way. afterLine: the last byte before was a line's
  // end, so the next one starts a line.
  void Start(uint64_t nowUs, uint32_t charUs, uint32_t allowance, bool afterLine);
  // A look at nowUs: this many bytes wait, not yet taken (0: the reader
  // has caught up).
  void Observe(uint32_t waiting, uint64_t nowUs);
  // The next byte the reader takes, and how it came.
  ByteOrigin Take();
  // Bytes thrown away unread.
  void Skip(uint32_t count) {
    taken_ += count;
    if (count > 0) afterLine_ = false;
  }
  // The origin of a byte taken earlier, as the last look leaves it.
  void Judge(ByteOrigin* origin) const;
  // Whether the next byte to take was there at the last look.
  bool Seen() const { return taken_ < known_; }
  // Bytes known to have come, and bytes taken, since the start.
  uint32_t Known() const { return known_; }
  uint32_t Taken() const { return taken_; }

 private:
  uint64_t baseUs_ = 0;    // since when the pace is judged
  uint32_t baseCount_ = 0;  // bytes that had come by then
  uint32_t charUs_ = 1042;
  uint32_t allowance_ = 0;
  uint32_t taken_ = 0;     // bytes taken (or thrown away) since the start
  uint32_t known_ = 0;     // bytes known to have come since the start
  uint32_t oldBelow_ = 0;  // the first this many of them are old
  bool behind_ = false;    // in a flow of old bytes, not yet caught up
  bool afterLine_ = false;
};

// When the bytes came, for the trace: each look that found more than the
// last is an arrival, numbered from 1, with the tick it was seen at. Bytes
// are taken in the order they came, so an arrival is let go once its last
// byte is taken. Counts are those of the pace, from its start.
class Arrivals {
 public:
  void Clear() { first_ = held_ = 0; }
  // A look found known bytes come in all, at tick.
  void Note(uint32_t known, uint32_t tick);
  // The arrival that brought byte number sequence: its number and tick;
  // false when no look saw it come.
  bool Of(uint32_t sequence, uint32_t* number, uint32_t* tick);

 private:
  struct Arrival {
    uint32_t end;  // the bytes known once it had come
    uint32_t tick, number;
  };
  static constexpr int kHeld = 8;  // more merge into the last
  Arrival ring_[kHeld] = {};
  int first_ = 0, held_ = 0;
  uint32_t numbered_ = 0;
};

constexpr int kIntakeSize = 512;

// What came during a TCP purge's wait, taken in as it arrived (so that the
// pace sees each arrival when it comes) and kept for the reads that follow.
// It holds more than the pace allows during that wait: what does not fit is
// old, and the oldest goes.
struct Intake {
  uint8_t bytes[kIntakeSize] = {};
  int count = 0;
  int taken = 0;
  bool empty() const { return taken >= count; }
  int held() const { return count - taken; }
  void clear() { count = taken = 0; }
  // Appends one arrival, first dropping the oldest bytes held (or of the
  // arrival) that would not fit; returns how many were dropped.
  int Add(const uint8_t* arrival, int size);
  uint8_t Take() { return bytes[taken++]; }
};

struct Reception {
  Intake intake;
  Pace pace;
  Arrivals arrivals;
  // The last reading went on past a line it could have ended with, to a
  // newer one: the next purge counts that as finding bytes, which it would
  // have found had the reading stopped there.
  bool readAhead = false;
  // The peer's closing is traced once a reading (a closed socket reads as
  // ready for ever).
  bool closedTraced = false;
  // The last byte taken from the channel, read or thrown away; 0 when a
  // purge threw away bytes unseen.
  uint8_t lastByte = 0;
};

}  // namespace pesolan
