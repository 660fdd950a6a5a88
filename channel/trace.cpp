#include "channel/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "channel/slot_table.h"
#include "platform/os.h"

namespace pesolan {

namespace {

constexpr int kPathSize = 1024;
constexpr int kEventSize = 512;
// One operation's lines: a reading makes about 5 KB of them. One that makes
// more (a flood read byte by byte) keeps its first events, which show how it
// began, and its last ones, which show how it ended: the events between
// are counted in a line of their own.
constexpr size_t kHeadSize = 32 * 1024;
constexpr size_t kTailSize = 32 * 1024;
constexpr size_t kLineSize = kEventSize + 128;
constexpr uint64_t kDefaultLimitMb = 16;
constexpr int kShownBytes = 64;  // of one event's bytes
constexpr uint64_t kLargestLimitMb = 4096;

}  // namespace

// What one traced operation has gathered, and where it goes.
struct TraceLog {
  char path[kPathSize];
  uint64_t limit;
  size_t headUsed;
  char head[kHeadSize];
  // Once the head is full: the last events, a ring of whole lines.
  bool tailing;
  size_t tailStart, tailUsed;
  char tail[kTailSize];
  int dropped;  // events that fell out of the ring
  // The bytes of the arrival being taken, not yet an event.
  struct Receiving {
    int count;
    uint32_t arrival, tick;
    uint8_t shown[kShownBytes];
  } receiving;
  char out[kHeadSize + kLineSize + kTailSize];
};

namespace {

bool Valid(int index) { return index >= 0 && index < kSlotCount; }

// PESOLAN_TRACE_MAX_MB megabytes: a whole number from 1 to 4096, else 16.
uint64_t LimitBytes() {
  char value[16];
  uint64_t mb = 0;
  if (os::EnvironmentText("PESOLAN_TRACE_MAX_MB", value, sizeof value)) {
    for (const char* c = value; *c != '\0' && mb <= kLargestLimitMb; ++c) {
      mb = *c >= '0' && *c <= '9' ? mb * 10 + static_cast<uint64_t>(*c - '0') : kLargestLimitMb + 1;
    }
  }
  if (mb == 0 || mb > kLargestLimitMb) mb = kDefaultLimitMb;
  return mb << 20;
}

// "COM65" or "127.0.0.1:20304".
void ChannelText(const DeviceSlot& slot, char* text, size_t size) {
  if (slot.channelKind == Serial) {
    std::snprintf(text, size, "COM%d", static_cast<int>(slot.settings.rsPort));
  } else {
    std::snprintf(text, size, "%s:%d", slot.settings.ip, static_cast<int>(slot.settings.tcpPort));
  }
}

const char* ControlName(uint8_t byte) {
  switch (byte) {
    case 0x05: return "ENQ";
    case 0x06: return "ACK";
    case 0x0A: return "LF";
    case 0x0D: return "CR";
    case 0x11: return "DC1";
    case 0x15: return "NAK";
    default: return nullptr;
  }
}

// "what 18 bytes: ST,GS,  12.345kg<CR><LF>": printable characters as they
// are ('<' in hex, so that a name's brackets are never the scale's own),
// control bytes by name, the rest in hex; "..." when count passed shown.
void BytesEvent(const char* what, const uint8_t* bytes, int shown, int count, char (&event)[kEventSize]) {
  size_t n = static_cast<size_t>(
      std::snprintf(event, sizeof event, "%s %d byte%s:%s", what, count, count == 1 ? "" : "s", count > 0 ? " " : ""));
  for (int i = 0; i < shown && n + 8 < sizeof event; ++i) {
    const uint8_t b = bytes[i];
    const char* name = ControlName(b);
    if (name != nullptr) {
      n += static_cast<size_t>(std::snprintf(event + n, sizeof event - n, "<%s>", name));
    } else if (b >= 0x20 && b < 0x7F && b != '<') {
      event[n++] = static_cast<char>(b);
    } else {
      n += static_cast<size_t>(std::snprintf(event + n, sizeof event - n, "<%02X>", b));
    }
  }
  if (count > shown && n + 4 < sizeof event) {
    std::memcpy(event + n, "...", 3);
    n += 3;
  }
  event[n] = '\0';
}

// Lets the oldest line of the ring go.
void DropOldest(TraceLog& log) {
  while (log.tailUsed > 0) {
    const char c = log.tail[log.tailStart];
    log.tailStart = (log.tailStart + 1) % kTailSize;
    --log.tailUsed;
    if (c == '\n') break;
  }
  ++log.dropped;
}

void Append(TraceLog& log, const char* text, size_t length) {
  if (!log.tailing && log.headUsed + length <= kHeadSize) {
    std::memcpy(log.head + log.headUsed, text, length);
    log.headUsed += length;
    return;
  }
  log.tailing = true;
  while (log.tailUsed + length > kTailSize) DropOldest(log);
  for (size_t i = 0; i < length; ++i) log.tail[(log.tailStart + log.tailUsed + i) % kTailSize] = text[i];
  log.tailUsed += length;
}

// "DATE TIME CHANNEL +MS ms EVENT" into line, for an event at tick; its
// length.
size_t Format(const DeviceSlot& slot, const char* event, uint32_t tick, char (&line)[kLineSize]) {
  char when[32], channel[40];
  os::LocalTimeText(when, sizeof when);
  ChannelText(slot, channel, sizeof channel);
  const uint32_t ms = static_cast<int32_t>(tick - slot.traceStart) > 0 ? tick - slot.traceStart : 0;
  const int length = std::snprintf(line, sizeof line, "%s %s +%u ms %s\n", when, channel, static_cast<unsigned>(ms), event);
  if (length <= 0) return 0;
  return static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length) : sizeof line - 1;
}

void RecordAt(const DeviceSlot& slot, const char* event, uint32_t tick) {
  char line[kLineSize];
  Append(*slot.trace, line, Format(slot, event, tick, line));
}

// The arrival's bytes taken so far become their event.
void EndReceiving(const DeviceSlot& slot) {
  TraceLog::Receiving& r = slot.trace->receiving;
  if (r.count == 0) return;
  char event[kEventSize];
  BytesEvent("recv", r.shown, r.count < kShownBytes ? r.count : kShownBytes, r.count, event);
  r.count = 0;
  RecordAt(slot, event, r.tick);
}

void Record(const DeviceSlot& slot, const char* event) {
  EndReceiving(slot);
  RecordAt(slot, event, os::Tick());
}

// The head, a line for the events left out, and the ring in order.
size_t Gathered(const DeviceSlot& slot, TraceLog& log) {
  size_t n = log.headUsed;
  std::memcpy(log.out, log.head, n);
  if (log.dropped > 0) {
    char note[kEventSize], line[kLineSize];
    std::snprintf(note, sizeof note, "%d events not traced here: one open or reading keeps its first and its last %u KB",
                  log.dropped, static_cast<unsigned>(kTailSize / 1024));
    const size_t length = Format(slot, note, os::Tick(), line);
    std::memcpy(log.out + n, line, length);
    n += length;
  }
  for (size_t i = 0; i < log.tailUsed; ++i) log.out[n++] = log.tail[(log.tailStart + i) % kTailSize];
  return n;
}

}  // namespace

TraceScope::TraceScope(int index) : index_(index) {
  if (!Valid(index)) return;
  DeviceSlot& slot = SlotTable[index];
  if (slot.traceDepth++ > 0) return;
  slot.traceStart = os::Tick();
  char path[kPathSize];
  if (!os::EnvironmentText("PESOLAN_TRACE", path, sizeof path)) return;
  TraceLog* log = new (std::nothrow) TraceLog;
  if (log == nullptr) return;
  std::memcpy(log->path, path, sizeof path);
  log->limit = LimitBytes();
  log->headUsed = log->tailStart = log->tailUsed = 0;
  log->tailing = false;
  log->dropped = 0;
  log->receiving.count = 0;
  slot.trace = log;
}

TraceScope::~TraceScope() {
  if (!Valid(index_)) return;
  DeviceSlot& slot = SlotTable[index_];
  if (--slot.traceDepth > 0 || slot.trace == nullptr) return;
  TraceLog* log = slot.trace;
  EndReceiving(slot);
  const size_t length = Gathered(slot, *log);
  slot.trace = nullptr;
  os::AppendTrace(log->path, log->out, length, log->limit);
  delete log;
}

bool Tracing(int index) { return Valid(index) && SlotTable[index].trace != nullptr; }

void Trace(int index, const char* format, ...) {
  if (!Tracing(index)) return;
  char event[kEventSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(event, sizeof event, format, args);
  va_end(args);
  Record(SlotTable[index], event);
}

void TraceBytes(int index, const char* what, const uint8_t* bytes, int count) {
  if (!Tracing(index) || count < 0) return;
  char event[kEventSize];
  BytesEvent(what, bytes, count < kShownBytes ? count : kShownBytes, count, event);
  Record(SlotTable[index], event);
}

void TraceReceived(int index, uint8_t byte, uint32_t arrival, uint32_t tick) {
  if (!Tracing(index)) return;
  const DeviceSlot& slot = SlotTable[index];
  TraceLog::Receiving& r = slot.trace->receiving;
  if (r.count > 0 && arrival != r.arrival) EndReceiving(slot);
  if (r.count == 0) r.arrival = arrival, r.tick = tick;
  if (r.count < kShownBytes) r.shown[r.count] = byte;
  ++r.count;
}

}  // namespace pesolan
