#include "channel/io.h"

#include <cstring>

#include "channel/slot_table.h"
#include "channel/trace.h"
#include "platform/os.h"

namespace pesolan {
namespace {

constexpr uint32_t kPurgeIdleMs = 200;
constexpr uint32_t kPurgeAfterReadMs = 80;
constexpr uint32_t kStreamDetectMs = 300;
constexpr uint32_t kTxEmptyMs = 256;
constexpr uint32_t kSerialByteMs = 80;
constexpr uint32_t kTcpByteMs = 128;
constexpr uint32_t kSerialFirstReplyByteMs = 350;
constexpr uint32_t kTcpFirstReplyByteMs = 300;
constexpr uint32_t kReplySilenceMs = 80;
constexpr int kScratchSize = 4096;
constexpr int kTracedPurgeBytes = 64;  // the first of those the purge throws away

// What an operation reads of its slot, once, at entry.
struct Channel {
  int32_t kind;
  os::SerialPort port;
  os::Socket socket;
  bool serial() const { return kind == Serial && port != nullptr; }
  bool tcp() const { return kind == Tcp && socket != os::kNoSocket; }
};

Channel ChannelOf(int index) {
  if (index < 0 || index >= kSlotCount) return {Channel_None, nullptr, os::kNoSocket};
  const DeviceSlot& slot = SlotTable[index];
  return {slot.channelKind, slot.comHandle, slot.socket};
}

// Every wait below blocks in the operating system until a byte comes (or
// the port can take a write, or the transmitter empties) or until its time
// limit passes, and then returns: no wait polls. Limits that end only when
// "more than" their milliseconds have passed wait one millisecond longer.

// A byte, waiting up to ms for it. A closed or failed connection is
// readable at once and for ever, yet gives nothing: the rest of the time is
// slept out, so that a caller waiting again does not spin.
bool ReceiveOne(os::Socket s, uint32_t ms, uint8_t* byte) {
  const uint32_t start = os::Tick();
  if (!os::SocketReadable(s, ms)) return false;
  if (os::SocketReceive(s, byte, 1) == 1) return true;
  os::Sleep(os::Left(start, ms));
  return false;
}

// Waits up to ms for a byte to be queued on a port whose events include
// kEventRxChar, then tells how many are queued.
bool AwaitQueued(os::SerialPort port, uint32_t ms, uint32_t* queued) {
  uint32_t events = 0;
  return os::SerialWaitEvent(port, ms, &events) && os::SerialQueued(port, queued);
}

// Reads what the peer has sent and throws it away, then waits 80 ms after
// the last byte read (200 ms when nothing came): bytes still under way from
// the scale arrive during the wait and stay queued for the next operation.
// The whole purge ends within 200 ms even when the peer never pauses.
bool DrainTcp(int index, os::Socket s) {
  uint8_t scratch[kScratchSize];  // contents are thrown away
  uint8_t first[kTracedPurgeBytes];
  const uint32_t start = os::Tick();
  uint32_t lastRead = start;
  long thrownAway = 0;
  int got = 0;
  while (os::Since(start) < kPurgeIdleMs && os::SocketReadable(s, 0) &&
         (got = os::SocketReceive(s, scratch, kScratchSize)) > 0) {
    lastRead = os::Tick();
    for (int i = 0; i < got && thrownAway + i < kTracedPurgeBytes; ++i) first[thrownAway + i] = scratch[i];
    thrownAway += got;
  }
  const uint32_t afterRead = thrownAway > 0 ? os::Left(lastRead, kPurgeAfterReadMs) : kPurgeIdleMs;
  const uint32_t left = os::Left(start, kPurgeIdleMs);
  os::Sleep(afterRead < left ? afterRead : left);
  if (thrownAway > 0) {
    Trace(index, "purge: %ld bytes thrown away", thrownAway);
    const int traced = thrownAway < kTracedPurgeBytes ? static_cast<int>(thrownAway) : kTracedPurgeBytes;
    TraceBytes(index, "purged", first, traced);
  }
  return true;
}

// Writes, then waits for the transmit-empty event.
bool SerialSendOnce(os::SerialPort port, const uint8_t* bytes, int count) {
  if (!os::SetSerialEvents(port, os::kEventTxEmpty) || !os::SerialWrite(port, bytes, static_cast<uint32_t>(count)))
    return false;
  const uint32_t start = os::Tick();
  uint32_t events = 0;
  if (!os::SerialWaitEvent(port, kTxEmptyMs, &events)) return false;
  for (;;) {
    if (events & os::kEventTxEmpty) return true;
    if (os::Since(start) >= kTxEmptyMs) return false;
    if (!os::SerialWaitEvent(port, os::Left(start, kTxEmptyMs), &events)) return false;
  }
}

bool TcpSend(int index, os::Socket s, const uint8_t* bytes, int count) {
  uint8_t staging[kRequestSize];
  std::memcpy(staging, bytes, static_cast<size_t>(count));
  os::SocketWritable(s, 0);  // the answer does not matter
  if (os::SocketSend(s, staging, count) < 0) {
    os::SocketClose(s);
    os::NetCleanup();
    SlotTable[index].socket = os::kNoSocket;
    return false;
  }
  return true;
}

// Gathers reply bytes into held; returns how many came (0..22).
int GatherSerial(os::SerialPort port, uint8_t* held) {
  int n = 0;
  uint32_t queued = 0;
  if (!os::SetSerialEvents(port, os::kEventRxChar)) return 0;
  const uint32_t start = os::Tick();
  uint32_t last = start;
  if (!os::SerialQueued(port, &queued)) return 0;
  for (;;) {
    uint32_t wait = 0;
    if (queued > 0) {
      if (!os::SerialReadOne(port, &held[n])) return n;
      if (++n == kReplySize) return n;
      last = os::Tick();
    } else if (n == 0 ? os::Since(start) > kSerialFirstReplyByteMs : os::Since(last) >= kReplySilenceMs) {
      return n;
    } else {
      wait = n == 0 ? os::Left(start, kSerialFirstReplyByteMs + 1) : os::Left(last, kReplySilenceMs);
    }
    if (!AwaitQueued(port, wait, &queued)) return n;
  }
}

int GatherTcp(os::Socket s, uint8_t* held) {
  int n = 0;
  const uint32_t start = os::Tick();
  uint32_t last = start;
  for (;;) {
    const uint32_t wait = n == 0 ? os::Left(start, kTcpFirstReplyByteMs) : os::Left(last, kReplySilenceMs);
    if (ReceiveOne(s, wait, &held[n])) {
      if (++n == kReplySize) return n;
      last = os::Tick();
      continue;
    }
    if (n == 0 ? os::Since(start) >= kTcpFirstReplyByteMs : os::Since(last) >= kReplySilenceMs) return n;
  }
}

// One byte within the channel's limit; byte is 0 when none came.
bool ReadOneByte(int index, uint8_t* byte) {
  *byte = 0;
  const Channel ch = ChannelOf(index);
  if (ch.tcp()) {
    const uint32_t start = os::Tick();
    for (;;) {
      if (ReceiveOne(ch.socket, os::Left(start, kTcpByteMs), byte)) return true;
      *byte = 0;
      if (os::Since(start) >= kTcpByteMs) return false;
    }
  }
  if (!ch.serial() || !os::SetSerialEvents(ch.port, os::kEventRxChar)) return false;
  uint32_t queued = 0;
  const uint32_t start = os::Tick();
  if (!os::SerialQueued(ch.port, &queued)) return false;
  for (;;) {
    if (queued > 0 && os::SerialReadOne(ch.port, byte)) return true;
    *byte = 0;
    if (os::Since(start) > kSerialByteMs) return false;
    if (!AwaitQueued(ch.port, os::Left(start, kSerialByteMs + 1), &queued)) return false;
  }
}

}  // namespace

int ChannelIndex(const DeviceHandle& handle) { return FindSlot(handle.key); }

int32_t ChannelKindAt(int index) { return ChannelOf(index).kind; }

bool PurgeChannel(int index) {
  const Channel ch = ChannelOf(index);
  if (ch.serial()) {
    uint32_t queued = 0;
    if (os::SerialQueued(ch.port, &queued) && queued > 0) Trace(index, "purge: %u bytes thrown away", queued);
    return os::PurgeSerial(ch.port);
  }
  if (ch.tcp()) return DrainTcp(index, ch.socket);
  Trace(index, "the channel is not open");
  return false;
}

bool WaitForData(int index) {
  if (!PurgeChannel(index)) return false;
  const Channel ch = ChannelOf(index);
  if (ch.tcp()) {
    uint8_t discarded = 0;
    const bool streaming = ReceiveOne(ch.socket, 0, &discarded);
    if (streaming) TraceBytes(index, "stream: took", &discarded, 1);
    return streaming;
  }
  uint32_t queued = 0;
  if (!os::SetSerialEvents(ch.port, os::kEventRxChar)) return false;
  const uint32_t start = os::Tick();
  if (!os::SerialQueued(ch.port, &queued)) return false;
  for (;;) {
    if (queued > 0) {
      Trace(index, "stream: a byte came unasked after %u ms", static_cast<unsigned>(os::Since(start)));
      return true;  // the bytes stay queued for the reads
    }
    if (os::Since(start) >= kStreamDetectMs) return false;
    if (!AwaitQueued(ch.port, os::Left(start, kStreamDetectMs), &queued)) return false;
  }
}

bool SendBytes(int index, const uint8_t* bytes, int count) {
  if (count < 1 || count > kRequestSize) return false;
  const Channel ch = ChannelOf(index);
  bool sent = false;
  if (ch.serial()) {
    sent = SerialSendOnce(ch.port, bytes, count);
  } else if (ch.tcp()) {
    sent = TcpSend(index, ch.socket, bytes, count);
  }
  if (sent) {
    TraceBytes(index, "sent", bytes, count);
  } else {
    Trace(index, ch.serial() ? "send failed, or the transmitter did not empty within 256 ms" : "send failed");
  }
  return sent;
}

bool ReadByte(int index, uint8_t* byte) {
  const bool got = ReadOneByte(index, byte);
  if (got) {
    TraceBytes(index, "recv", byte, 1);
  } else {
    Trace(index, "no byte within %u ms", static_cast<unsigned>(ChannelOf(index).tcp() ? kTcpByteMs : kSerialByteMs));
  }
  return got;
}

bool ReadReply(int index, uint8_t* buffer, int* count) {
  const Channel ch = ChannelOf(index);
  uint8_t held[kReplySize] = {};
  int n = 0;
  if (ch.serial()) {
    n = GatherSerial(ch.port, held);
  } else if (ch.tcp()) {
    n = GatherTcp(ch.socket, held);
  }
  TraceBytes(index, "recv", held, n);
  if (n == kReplySize) {
    Trace(index, "reply of %d bytes, the most a reply takes", n);
  } else if (n > 0) {
    Trace(index, "reply of %d byte%s, ended by %u ms of silence", n, n == 1 ? "" : "s",
          static_cast<unsigned>(kReplySilenceMs));
  } else {
    Trace(index, "no reply within %u ms",
          static_cast<unsigned>(ch.serial() ? kSerialFirstReplyByteMs : kTcpFirstReplyByteMs));
  }
  if (n == 0) return false;
  std::memcpy(buffer, held, static_cast<size_t>(n));
  *count = n;
  return true;
}

}  // namespace pesolan
