#include "find_listen.h"

#include "platform/os.h"

namespace host {
namespace {

constexpr size_t kMostBytes = 8192;
constexpr int kEnoughLines = 3;  // clean lines that settle a setting early

// The driver's two line settings: --attrs 0 and 1.
const os::LineSettings kSettings[2] = {{9600, 0, 8, 0}, {9600, 2, 7, 0}};

// What arrives within the listening time.
std::string Listen(os::SerialPort port) {
  std::string bytes;
  WeightLine ignored;
  os::SetSerialEvents(port, os::kEventRxChar);
  const uint32_t start = os::Tick();
  while (os::Since(start) < kListenMs && bytes.size() < kMostBytes) {
    uint32_t events = 0;
    if (!os::SerialWaitEvent(port, os::Left(start, kListenMs), &events)) break;
    uint8_t byte = 0;
    while (bytes.size() < kMostBytes && os::SerialReadOne(port, &byte)) bytes += static_cast<char>(byte);
    if (CountWeightLines(bytes, &ignored) >= kEnoughLines) break;
  }
  return bytes;
}

}  // namespace

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
    if (!l.heard[attrs].refused) l.heard[attrs].bytes = Listen(port);
    // An 8N1 scale reads clean with 7E1 as well: no need to try it.
    if (attrs == 0 && CountWeightLines(l.heard[0].bytes, &ignored) > 0) break;
  }
  os::CloseSerial(port);
  l.verdict = Decide(l.heard);
  return l;
}

}  // namespace host
