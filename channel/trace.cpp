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
// One operation's lines: a reading makes about 5 KB of them. The last line
// is kept for the note that events were left out.
constexpr size_t kLogSize = 64 * 1024;
constexpr size_t kLineSize = kEventSize + 128;
constexpr uint64_t kDefaultLimitMb = 16;
constexpr uint64_t kLargestLimitMb = 4096;

}  // namespace

// What one traced operation has gathered, and where it goes.
struct TraceLog {
  char path[kPathSize];
  uint64_t limit;
  size_t used;
  int dropped;  // events past kLogSize
  char text[kLogSize];
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

void Append(TraceLog& log, const char* text, size_t length, size_t room) {
  if (log.used + length > room) {
    ++log.dropped;
    return;
  }
  std::memcpy(log.text + log.used, text, length);
  log.used += length;
}

void Record(const DeviceSlot& slot, const char* event, size_t room = kLogSize - kLineSize) {
  char when[32], channel[40], line[kLineSize];
  os::LocalTimeText(when, sizeof when);
  ChannelText(slot, channel, sizeof channel);
  const int length = std::snprintf(line, sizeof line, "%s %s +%u ms %s\n", when, channel,
                                   static_cast<unsigned>(os::Since(slot.traceStart)), event);
  if (length > 0) Append(*slot.trace, line, static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1, room);
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
  log->used = 0;
  log->dropped = 0;
  slot.trace = log;
}

TraceScope::~TraceScope() {
  if (!Valid(index_)) return;
  DeviceSlot& slot = SlotTable[index_];
  if (--slot.traceDepth > 0 || slot.trace == nullptr) return;
  if (slot.trace->dropped > 0) {
    char note[kEventSize];
    std::snprintf(note, sizeof note, "%d more events not traced: one open or reading keeps %u KB of them",
                  slot.trace->dropped, static_cast<unsigned>(kLogSize / 1024));
    Record(slot, note, kLogSize);
  }
  TraceLog* log = slot.trace;
  slot.trace = nullptr;
  os::AppendTrace(log->path, log->text, log->used, log->limit);
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
  if (!Tracing(index)) return;
  for (int i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    const char* name = ControlName(b);
    if (name != nullptr) {
      Trace(index, "%s %02X %s", what, b, name);
    } else if (b >= 0x20 && b < 0x7F) {
      Trace(index, "%s %02X '%c'", what, b, b);
    } else {
      Trace(index, "%s %02X", what, b);
    }
  }
}

}  // namespace pesolan
