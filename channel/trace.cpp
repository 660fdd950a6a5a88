#include "channel/trace.h"

#include <cstdarg>
#include <cstdio>

#include "channel/slot_table.h"
#include "platform/os.h"

namespace pesolan {
namespace {

constexpr int kPathSize = 1024;
constexpr int kLineSize = 512;

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

void Write(int index, const char* event) {
  char path[kPathSize];
  if (!os::TracePath(path, sizeof path)) return;
  const DeviceSlot& slot = SlotTable[index];
  char when[32], channel[40], line[kLineSize + 128];
  os::LocalTimeText(when, sizeof when);
  ChannelText(slot, channel, sizeof channel);
  const int length = std::snprintf(line, sizeof line, "%s %s +%u ms %s\n", when, channel,
                                   static_cast<unsigned>(os::Since(slot.traceStart)), event);
  if (length > 0) os::AppendToFile(path, line, static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1);
}

}  // namespace

void BeginTrace(int index) {
  if (index < 0 || index >= kSlotCount) return;
  char path[kPathSize];
  DeviceSlot& slot = SlotTable[index];
  slot.tracing = os::TracePath(path, sizeof path);
  slot.traceStart = os::Tick();
}

bool Tracing(int index) { return index >= 0 && index < kSlotCount && SlotTable[index].tracing; }

void Trace(int index, const char* format, ...) {
  if (!Tracing(index)) return;
  char event[kLineSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(event, sizeof event, format, args);
  va_end(args);
  Write(index, event);
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
