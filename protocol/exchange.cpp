#include "protocol/exchange.h"

#include <algorithm>
#include <cstring>

#include "channel/channel_settings.h"
#include "channel/device_errors.h"
#include "channel/io.h"
#include "channel/reception.h"
#include "channel/trace.h"
#include "platform/os.h"
#include "protocol/decimal.h"
#include "protocol/weight.h"

namespace pesolan {
namespace {

constexpr uint8_t ENQ = 0x05;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t DC1 = 0x11;
constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;

constexpr uint32_t kSerialStreamLimitMs = 304;
constexpr uint32_t kTcpStreamLimitMs = 256;
constexpr int kLinePositions = 22;
constexpr int kShortestStreamLine = 16;
constexpr int kStreamByteBudget = 48;
constexpr int kShortestTwoByteReply = 11;
constexpr uint32_t kTcpPauseAfterSendMs = 168;
constexpr int kLineBufferSize = 64;
// The shortest weight line with its CR LF: with this much waiting behind a
// line's end, a newer whole line may be waiting.
constexpr uint32_t kLineWorth = kShortestStreamLine + 2;
// A reader behind the scale all that time meets a backlog larger than it
// can drain, or a flood faster than it can read: the reading ends, as a
// silent one does. (A slow scale that the reader keeps up with is bounded
// by the time limit between bytes and by the byte budget.) It counts from
// the first byte the reader found itself behind at, not from the start: a
// reader that got no processor for a while finds live lines waiting, and
// drains them in moments.
constexpr uint32_t kCatchUpLimitMs = 1000;

struct Dialogue {
  const DeviceHandle& device;
  int index;
  int32_t kind;
  uint32_t startTick;
  WeightReading* reading;
  uint8_t line[kLineBufferSize] = {};
};

void TraceParsed(int index, const WeightReading& parsed) {
  static const char* const kUnits[] = {"as on the scale", "mg", "g", "kg", "t"};
  char value[48];
  const int decimals = parsed.hasDecimalPoint ? parsed.decimals : 0;
  if (WriteFixed(parsed.value, decimals, value, sizeof value) < 0) std::strcpy(value, "?");
  Trace(index, "parsed: %s %s %s", parsed.stability == Stability_Unstable ? "unstable" : "stable", value,
        parsed.unit >= 0 && parsed.unit <= 4 ? kUnits[parsed.unit] : "?");
}

bool Parse(const Dialogue& d, int length, WeightReading* parsed) { return ParseWeightLine(d.line, length, parsed); }

// A parsed line is the dialogue's result, and clears an Unknown_Data that an
// earlier dialogue left.
bool Store(const Dialogue& d, const WeightReading& parsed) {
  ClearUnknownData(d.device);
  *d.reading = parsed;
  if (Tracing(d.index)) TraceParsed(d.index, parsed);
  return true;
}

bool ParseAndStore(const Dialogue& d, int length) {
  WeightReading parsed;
  return Parse(d, length, &parsed) && Store(d, parsed);
}

bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }
bool IsStabilityLetter(uint8_t b) { return b == 'S' || b == 's' || b == 'U' || b == 'u'; }

// How much of a reply is its one line, once its number has begun: it ends
// at its CR LF (what follows is the start of another line, from a scale
// that began to stream), or at a stability letter (no unit is one: another
// line beginning, after a scale abandoned this one midway). The parser joins
// every number of the bytes it is given, so a second line's digits would
// otherwise be read into this line's weight. A CR LF before the number is
// the end of something earlier: the reply's line follows it.
int ReplyLineLength(const uint8_t* reply) {
  bool number = false;
  for (int i = 0; i < kReplySize; ++i) {
    if (number && reply[i - 1] == CR && reply[i] == LF) return i - 1;
    if (number && IsStabilityLetter(reply[i])) return i;
    if (i > 0 && (reply[i - 1] == ' ' || reply[i - 1] == '-') && IsDigit(reply[i])) number = true;
  }
  return kReplySize;
}

bool ParseReply(const Dialogue& d) {
  if (ParseAndStore(d, ReplyLineLength(d.line))) return true;
  Trace(d.index, "the reply is not a weight line");
  return false;
}

bool GiveUpOnUnknownData(const Dialogue& d) {
  Trace(d.index, "%d bytes without a weight line: unknown data", kStreamByteBudget);
  RecordUnknownData(d.device);
  return false;
}

constexpr int kTracedSkippedLines = 3;  // then only their count

// Lines a stream reading passed over: old ones, given back to the budget as
// a backlog is no junk, and ones with a newer line waiting behind them.
struct Skipped {
  int index;
  int old = 0, older = 0;
  void Old() {
    if (++old <= kTracedSkippedLines) Trace(index, "an old line: it came faster than the scale's line carries it");
  }
  void Older(uint32_t behind) {
    if (++older <= kTracedSkippedLines) Trace(index, "a newer line may wait behind it: %u bytes", static_cast<unsigned>(behind));
  }
  ~Skipped() {
    if (old > kTracedSkippedLines) Trace(index, "%d old lines skipped in all", old);
  }
};

// The newest line that counted so far, kept while more waited behind it.
struct Newest {
  bool held = false;
  WeightReading reading;
  ByteOrigin start;  // its first byte
};

// The newest line, unless bytes that came since show it was old too.
bool Settle(const Dialogue& d, Newest& newest) {
  if (!newest.held || !LookAgain(d.index)) return false;
  newest.held = false;
  JudgeByte(d.index, &newest.start);
  if (newest.start.old) {
    Trace(d.index, "the line kept turned out old: more came since than the line carries");
    return false;
  }
  return Store(d, newest.reading);
}

// One stream reading's line in the dialogue's buffer, its byte budget and
// the newest line kept.
struct Stream {
  Dialogue& d;
  int position = 0, lineLength = 0, counted = 0, lineCounted = 0;
  bool firstLine = true;
  ByteOrigin lineStart = {};
  Newest newest = {};
  Skipped skipped{d.index};
  // When the last line ended, and whether a byte came after it.
  bool lineEnded = false, byteSince = false;
  uint32_t lineEndTick = 0;

  // The line in progress when the dialogue starts is dropped, unless the
  // byte that showed the stream is known to start a line (the channel was
  // found empty right after a line's end): then it is whole.
  void Begin(const Detected& detected) {
    if (!detected.taken || !detected.origin.lineStart || detected.origin.old) return;
    d.line[0] = detected.byte;
    lineStart = detected.origin;
    position = counted = lineCounted = 1;
    firstLine = false;
  }

  // Stores the byte. A line that ends with it is judged with what came
  // meanwhile: an old one is given back to the budget (a backlog is no
  // junk); one that counts is left for Take as lineLength.
  void Put(uint8_t byte, ByteOrigin* origin) {
    const bool wasFirstLine = firstLine;
    byteSince = lineEnded;
    if (position == 0) lineStart = *origin;
    d.line[position] = byte;
    if (position > 0 && d.line[position - 1] == CR && byte == LF) {
      LookAgain(d.index);
      JudgeByte(d.index, &lineStart);
      JudgeByte(d.index, origin);
      ++counted;
      if (lineStart.old) {
        if (!wasFirstLine) skipped.Old();
        counted -= lineCounted + 1;
      } else if (!wasFirstLine) {
        lineLength = position - 1;
      }
      position = lineCounted = 0;
      firstLine = false;
      lineEnded = true;
      byteSince = false;
      lineEndTick = os::Tick();
    } else if (position == kLinePositions - 1) {
      position = 0;  // the line is cut; this byte is not counted
    } else {
      ++position;
      ++counted;
      ++lineCounted;
    }
  }

  // The line that ended, parsed once: the next line's bytes overwrite it
  // from the front, and the mixture must never be read as a weight. True
  // when it is the result; kept while a line's worth waits behind it.
  bool Take(const ByteOrigin& end) {
    WeightReading parsed;
    const bool good = Parse(d, lineLength, &parsed);
    lineLength = 0;
    if (good && end.behind < kLineWorth) return Store(d, parsed);
    if (good) {
      skipped.Older(end.behind);
      NoteReadAhead(d.index);
      newest = {true, parsed, lineStart};
      counted = 0;  // a weight line: what follows is judged afresh
    }
    return false;
  }
};

// The scale sends CR LF-ended lines by itself; lines of 16 bytes or more
// are parsed, each once as it completes. Only a line with no old byte
// counts, and of those the newest that has come: what waited while nobody
// read is thereby skipped, and a converter's pack is read at its newest
// line. Bytes that form no weight line within the 48-byte budget end the
// dialogue, so a scale that streams junk cannot hold the caller; so does a
// reader still behind the scale after a second.
bool ReadStream(Dialogue& d, const Detected& detected) {
  const uint32_t limit = d.kind == Serial ? kSerialStreamLimitMs : kTcpStreamLimitMs;
  Stream s{d};
  s.Begin(detected);
  bool behind = false;
  uint32_t behindSince = 0;  // the tick of the first byte of this run behind the scale
  for (;;) {
    uint8_t byte = 0;  // ReadByte blocks until a byte comes or its limit passes
    ByteOrigin origin;
    if (!ReadByte(d.index, &byte, &origin)) {
      if (Settle(d, s.newest)) return true;
      if (os::Since(d.startTick) < limit) continue;
      Trace(d.index, "the stream's %u ms have passed", static_cast<unsigned>(limit));
      if (s.lineEnded && !s.byteSince) {
        Trace(d.index, "no line came in the %u ms after the last one ended: lines further apart than %u ms are not read",
              static_cast<unsigned>(os::Since(s.lineEndTick)), static_cast<unsigned>(limit));
      }
      return false;
    }
    const bool late = origin.old || origin.behind >= kLineWorth;
    if (late && !behind) behindSince = os::Tick();
    behind = late;
    if (behind && os::Since(behindSince) >= kCatchUpLimitMs) {
      if (Settle(d, s.newest)) return true;
      Trace(d.index, "still behind the scale after %u ms: no current line", static_cast<unsigned>(kCatchUpLimitMs));
      return false;
    }
    s.Put(byte, &origin);
    if (s.lineLength >= kShortestStreamLine && s.Take(origin)) return true;
    if (s.newest.held && origin.behind == 0 && Settle(d, s.newest)) return true;
    if (s.counted >= kStreamByteBudget) return Settle(d, s.newest) || GiveUpOnUnknownData(d);
  }
}

// Sends request and pauses after it on TCP. What came before it unasked is
// thrown away first: it is no answer to this request.
bool Send(const Dialogue& d, const uint8_t* request, int count) {
  DiscardPending(d.index);
  if (!SendBytes(d.index, request, count)) return false;
  if (d.kind == Tcp) Pause(d.index, kTcpPauseAfterSendMs);
  return true;
}

// The bytes of a reply after its first CR LF (none without one).
uint32_t AfterFirstLine(const uint8_t* reply, int count) {
  for (int i = 1; i < count; ++i) {
    if (reply[i - 1] == CR && reply[i] == LF) return static_cast<uint32_t>(count - i - 1);
  }
  return 0;
}

// More than a line waited behind the reply: lines that came together (a
// converter's pack, a stream), of which the newest whole one answers this
// request; the first may have waited for seconds in a converter that held
// it. Reads on through what waits and puts the newest whole line in the
// line buffer as the reply; the reply stays as it came when no whole line
// followed it.
bool TakeNewestReply(Dialogue& d, ByteOrigin origin, int* count) {
  uint8_t line[kLineBufferSize];
  int length = 0, newest = 0, begins = 0;
  for (int i = 0; i < *count; ++i) {  // the line in progress after the reply's own
    line[length++] = d.line[i];
    if (i > 0 && d.line[i - 1] == CR && d.line[i] == LF) length = 0, begins = i + 1;
  }
  ByteOrigin start = origin, newestStart;  // the origin given is the reply's last byte's
  start.sequence -= static_cast<uint32_t>(*count - 1 - std::min(begins, *count - 1));
  for (int n = 0; origin.behind > 0 && n < kIntakeSize; ++n) {
    uint8_t byte = 0;
    if (!ReadByte(d.index, &byte, &origin)) break;
    if (length == 0) start = origin;
    line[length] = byte;
    length = length + 1 < kLineBufferSize ? length + 1 : 0;  // no line is that long
    if (length >= 2 && line[length - 2] == CR && byte == LF) {
      if (length - 2 >= kShortestTwoByteReply) {
        std::memset(d.line, 0, kReplySize);
        std::memcpy(d.line, line, static_cast<size_t>(std::min(length, kReplySize)));
        newest = length;
        newestStart = start;
      }
      length = 0;
    }
  }
  if (newest == 0) return true;
  LookAgain(d.index);
  JudgeByte(d.index, &newestStart);
  if (d.kind == Tcp && newestStart.old) {
    Trace(d.index, "no reply: the lines behind it came faster than the scale's line carries them");
    return false;
  }
  Trace(d.index, "the reply came with newer lines behind it: the newest is the answer");
  *count = std::min(newest, kReplySize);
  return true;
}

// A reply to the request just sent: over TCP, none when its bytes came
// faster than the scale's line carries them since the channel was found
// empty before the send (a backlog arriving, not an answer). A serial
// reply's pace is not judged: a scale behind a USB port of its own answers
// at the bus's speed, and what waited in an adapter came right after the
// purge, which the stream watch before any request has waited out.
bool TakeReply(Dialogue& d, int* count) {
  ByteOrigin origin;
  if (!ReadReply(d.index, d.line, count, &origin)) return false;
  if (d.kind == Tcp && origin.old) {
    Trace(d.index, "no reply: its bytes came faster than the scale's line carries them");
    return false;
  }
  return AfterFirstLine(d.line, *count) + origin.behind < kLineWorth || TakeNewestReply(d, origin, count);
}

// ENQ, a lone ACK back, then DC1 and the weight line.
bool RequestStepwise(Dialogue& d) {
  int count = 0;
  Trace(d.index, "way: ENQ, then DC1");
  if (!Send(d, &ENQ, 1)) return false;
  if (!TakeReply(d, &count) || d.line[0] != ACK || count != 1) {
    Trace(d.index, "no lone ACK to ENQ");
    return false;
  }
  if (!Send(d, &DC1, 1)) return false;
  if (!TakeReply(d, &count)) return false;
  return ParseReply(d);
}

// ENQ DC1 in one send, answered by the weight line.
bool RequestAtOnce(Dialogue& d) {
  static constexpr uint8_t kRequest[] = {ENQ, DC1};
  int count = 0;
  Trace(d.index, "way: ENQ DC1 together");
  if (!Send(d, kRequest, 2)) return false;
  std::memset(d.line, 0, kReplySize);
  if (!TakeReply(d, &count)) return false;
  if (count < kShortestTwoByteReply) {
    Trace(d.index, "a reply of %d bytes is too short", count);
    return false;
  }
  return ParseReply(d);
}

}  // namespace

bool ExchangeWeight(const DeviceHandle& handle, WeightReading* reading) {
  *reading = WeightReading{};
  const int index = ChannelIndex(handle);
  if (index < 0) return false;
  const TraceScope trace(index);
  Trace(index, "reading begins");
  Dialogue d{handle, index, ChannelKindAt(index), os::Tick(), reading};
  Detected detected;
  if (WaitForData(index, &detected)) {
    Trace(index, "way: stream");
    return ReadStream(d, detected);
  }
  return RequestStepwise(d) || RequestAtOnce(d);
}

}  // namespace pesolan
