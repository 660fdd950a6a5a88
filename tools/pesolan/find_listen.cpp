#include "find_listen.h"

#include "platform/os.h"

namespace host {
namespace {

constexpr size_t kMostBytes = 8192;
constexpr int kEnoughLines = 3;  // clean lines that settle a setting early

// The driver's two line settings: --attrs 0 and 1.
const os::LineSettings kSettings[2] = {{9600, 0, 8, 0}, {9600, 2, 7, 0}};

}  // namespace

const os::LineSettings& LineSettingsOf(int attrs) { return kSettings[attrs == 1 ? 1 : 0]; }

void Hearing::Add(const uint8_t* bytes, int count, unsigned atMs) {
  heard_.bytes.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
  WeightLine ignored;
  const int now = CountWeightLines(heard_.bytes, &ignored);
  for (; counted_ < now; ++counted_) heard_.lineEndsMs.push_back(atMs);
}

Heard ListenSerial(os::SerialPort port, unsigned ms, int enoughLines) {
  Hearing h(kMostBytes);
  os::SetSerialEvents(port, os::kEventRxChar);
  const uint32_t start = os::Tick();
  while (os::Since(start) < ms && !h.Full() && h.Lines() < enoughLines) {
    uint32_t events = 0;
    if (!os::SerialWaitEvent(port, os::Left(start, ms), &events)) break;
    uint8_t chunk[256];
    int n = 0;
    while (n < static_cast<int>(sizeof chunk) && os::SerialReadOne(port, &chunk[n])) ++n;
    h.Add(chunk, n, os::Since(start));
  }
  return h.Done(os::Since(start));
}

Listened ListenToPort(int com) {
  Listened l;
  char why[160] = "";
  const os::SerialPort port = os::OpenSerial(com, why, sizeof why);
  if (port == nullptr) {
    l.openError = why;
    return l;
  }
  WeightLine ignored;
  for (int attrs = 0; attrs < 2; ++attrs) {
    l.heard[attrs].refused = !os::ConfigureSerial(port, kSettings[attrs]);
    if (!l.heard[attrs].refused) l.heard[attrs] = ListenSerial(port, kListenMs, kEnoughLines);
    // An 8N1 scale reads clean with 7E1 as well: no need to try it.
    if (attrs == 0 && CountWeightLines(l.heard[0].bytes, &ignored) > 0) break;
  }
  os::CloseSerial(port);
  l.verdict = Decide(l.heard);
  return l;
}

}  // namespace host
