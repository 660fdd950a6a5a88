#include "line_pace.h"

#include "find_listen.h"
#include "platform/os.h"
#include "words.h"

namespace host {
namespace {

constexpr unsigned kPaceListenMs = 2600;  // two lines a second apart, and the quiet around them
constexpr int kPaceLines = 4;
constexpr size_t kMostBytes = 4096;
constexpr uint32_t kConnectMs = 2000;

Heard ListenTcp(const Channel& c) {
  uint8_t address[4];
  char why[160] = "";
  const os::HostText kind = os::ReadHostText(c.host.c_str(), address);
  if (kind == os::HostText::NotAnAddress || !os::NetStartup()) return {};
  Heard heard;
  if (kind == os::HostText::Address || os::ResolveHost(c.host.c_str(), kConnectMs, address, why, sizeof why)) {
    const os::Socket s = os::TcpConnect(address, static_cast<uint16_t>(c.port), kConnectMs, why, sizeof why);
    if (s != os::kNoSocket) {
      Hearing h(kMostBytes);
      const uint32_t start = os::Tick();
      uint8_t chunk[512];
      int got = 0;
      while (os::Since(start) < kPaceListenMs && !h.Full() && h.Lines() < kPaceLines &&
             os::SocketReadable(s, os::Left(start, kPaceListenMs)) && (got = os::SocketReceive(s, chunk, sizeof chunk)) > 0) {
        h.Add(chunk, got, os::Since(start));
      }
      heard = h.Done(os::Since(start));
      os::SocketClose(s);
    }
  }
  os::NetCleanup();
  return heard;
}

Heard ListenSerialChannel(const Channel& c) {
  char why[160] = "";
  const os::SerialPort port = os::OpenSerial(c.com, why, sizeof why);
  if (port == nullptr) return {};
  Heard heard;
  if (os::ConfigureSerial(port, LineSettingsOf(c.attrs))) heard = ListenSerial(port, kPaceListenMs, kPaceLines);
  os::CloseSerial(port);
  return heard;
}

}  // namespace

LinePace ListenForPace(const Channel& c) {
  const Heard heard = c.tcp ? ListenTcp(c) : ListenSerialChannel(c);
  return PaceOf(heard.lineEndsMs, heard.listenedMs);
}

Cause SlowCause(const LinePace& p, bool tcp) {
  const std::string limit = std::to_string(StreamLimitMs(tcp));
  const std::string ms = std::to_string(p.atLeast ? p.ms / 10 * 10 : (p.ms + 5) / 10 * 10);
  return {Fill(L(p.atLeast ? "the scale streams a line less often than every {} ms; the driver needs one within {} ms"
                           : "the scale streams a line about every {} ms; the driver needs one within {} ms"),
               {ms, limit}),
          Fill(L("set the scale's send interval shorter: a line at least every {} ms"), {limit})};
}

}  // namespace host
