#include "protocol/exchange.h"

#include <cstring>

#include "channel/channel_settings.h"
#include "channel/device_errors.h"
#include "channel/io.h"
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

// A parsed line is the dialogue's result, and clears an Unknown_Data that an
// earlier dialogue left.
bool ParseAndStore(const Dialogue& d, int length) {
  WeightReading parsed;
  if (!ParseWeightLine(d.line, length, &parsed)) return false;
  ClearUnknownData(d.device);
  *d.reading = parsed;
  if (Tracing(d.index)) TraceParsed(d.index, parsed);
  return true;
}

bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }
bool IsStabilityLetter(uint8_t b) { return b == 'S' || b == 's' || b == 'U' || b == 'u'; }

// How much of a reply is its one line. It ends at its CR LF: what follows
// is the start of another line, from a scale that began to stream. And it
// ends at a stability letter once its number has begun (no unit is one):
// that is another line beginning, after a scale abandoned this one midway.
// The parser joins every number of the bytes it is given, so a second
// line's digits would otherwise be read into this line's weight.
int ReplyLineLength(const uint8_t* reply) {
  bool number = false;
  for (int i = 0; i < kReplySize; ++i) {
    if (i > 0 && reply[i - 1] == CR && reply[i] == LF) return i - 1;
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

// The scale sends CR LF-ended lines by itself. The line in progress when the
// dialogue starts is dropped; lines of 16 bytes or more are parsed, each once
// as it completes. Bytes
// that form no weight line within the 48-byte budget end the dialogue, so a
// scale that streams junk cannot hold the caller.
bool ReadStream(Dialogue& d) {
  const uint32_t limit = d.kind == Serial ? kSerialStreamLimitMs : kTcpStreamLimitMs;
  int position = 0, lineLength = 0, counted = 0;
  bool firstLine = true;
  for (;;) {
    const bool wasFirstLine = firstLine;
    uint8_t byte = 0;  // ReadByte blocks until a byte comes or its limit passes
    if (!ReadByte(d.index, &byte)) {
      if (os::Since(d.startTick) < limit) continue;
      Trace(d.index, "the stream's %u ms have passed", static_cast<unsigned>(limit));
      return false;
    }
    d.line[position] = byte;
    if (position > 0 && d.line[position - 1] == CR && byte == LF) {
      if (!wasFirstLine) lineLength = position - 1;
      position = 0;
      firstLine = false;
      ++counted;
    } else if (position == kLinePositions - 1) {
      position = 0;  // the line is cut; this byte is not counted
    } else {
      ++position;
      ++counted;
    }
    if (lineLength >= kShortestStreamLine) {
      if (ParseAndStore(d, lineLength)) return true;
      // Parsed once, when it completed: the next line's bytes overwrite it
      // from the front, and the mixture must never be read as a weight.
      lineLength = 0;
    }
    if (counted >= kStreamByteBudget) return GiveUpOnUnknownData(d);
  }
}

// Sends request and pauses after it on TCP.
bool Send(const Dialogue& d, const uint8_t* request, int count) {
  if (!SendBytes(d.index, request, count)) return false;
  if (d.kind == Tcp) os::Sleep(kTcpPauseAfterSendMs);
  return true;
}

// ENQ, a lone ACK back, then DC1 and the weight line.
bool RequestStepwise(Dialogue& d) {
  int count = 0;
  Trace(d.index, "way: ENQ, then DC1");
  if (!Send(d, &ENQ, 1)) return false;
  if (!ReadReply(d.index, d.line, &count) || d.line[0] != ACK || count != 1) {
    Trace(d.index, "no lone ACK to ENQ");
    return false;
  }
  if (!Send(d, &DC1, 1)) return false;
  if (!ReadReply(d.index, d.line, &count)) return false;
  return ParseReply(d);
}

// ENQ DC1 in one send, answered by the weight line.
bool RequestAtOnce(Dialogue& d) {
  static constexpr uint8_t kRequest[] = {ENQ, DC1};
  int count = 0;
  Trace(d.index, "way: ENQ DC1 together");
  if (!Send(d, kRequest, 2)) return false;
  std::memset(d.line, 0, kReplySize);
  if (!ReadReply(d.index, d.line, &count)) return false;
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
  if (WaitForData(index)) {
    Trace(index, "way: stream");
    return ReadStream(d);
  }
  return RequestStepwise(d) || RequestAtOnce(d);
}

}  // namespace pesolan
