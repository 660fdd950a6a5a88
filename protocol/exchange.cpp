#include "protocol/exchange.h"

#include <cstring>

#include "channel/error_codes.h"
#include "channel/io.h"
#include "channel/slot_table.h"
#include "platform/os.h"
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
  int index;
  int32_t kind;
  int32_t pendingCode;
  uint32_t startTick;
  uint8_t line[kLineBufferSize] = {};
};

bool StoreReading(const Dialogue& d, const WeightReading& reading) {
  DeviceSlot& slot = SlotTable[d.index];
  if (d.pendingCode == Unknown_Data) slot.errorCode = NoError;
  slot.lastReading = reading;
  return true;
}

bool ParseAndStore(const Dialogue& d, int length) {
  WeightReading reading;
  return ParseWeightLine(d.line, length, &reading) && StoreReading(d, reading);
}

bool GiveUpOnUnknownData(const Dialogue& d) {
  if (d.pendingCode == NoError) SlotTable[d.index].errorCode = Unknown_Data;
  return false;
}

// The scale sends CR LF-ended lines by itself. The line in progress when the
// dialogue starts is dropped; lines of 16 bytes or more are parsed. Bytes
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
    if (lineLength >= kShortestStreamLine && ParseAndStore(d, lineLength)) return true;
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
  if (!Send(d, &ENQ, 1)) return false;
  if (!ReadReply(d.index, d.line, &count) || d.line[0] != ACK || count != 1) return false;
  if (!Send(d, &DC1, 1)) return false;
  if (!ReadReply(d.index, d.line, &count)) return false;
  return ParseAndStore(d, kReplySize);
}

// ENQ DC1 in one send, answered by the weight line.
bool RequestAtOnce(Dialogue& d) {
  static constexpr uint8_t kRequest[] = {ENQ, DC1};
  int count = 0;
  if (!Send(d, kRequest, 2)) return false;
  std::memset(d.line, 0, kReplySize);
  if (!ReadReply(d.index, d.line, &count) || count < kShortestTwoByteReply) return false;
  return ParseAndStore(d, kReplySize);
}

}  // namespace

bool ExchangeWeight(DeviceHandle& handle) {
  const int index = FindSlot(handle.key);
  if (index < 0) return false;
  DeviceSlot& slot = SlotTable[index];
  slot.lastReading = WeightReading{};
  Dialogue d{index, slot.channelKind, slot.errorCode, os::Tick()};
  if (WaitForData(index)) return ReadStream(d);
  return RequestStepwise(d) || RequestAtOnce(d);
}

}  // namespace pesolan
