#include "soak.h"

namespace soak {
namespace {

// The driver's own limits, in milliseconds (see README, "Waiting for the
// scale"): the TCP purge, the serial watch for a stream, the pause after a
// TCP send, a serial send's wait for the transmitter, a reply's first byte
// (serial) and the silence after each of its 22 bytes, Close's pause and
// Disconnect's longest wait.
constexpr long kPurge = 200, kStreamWatch = 300, kPauseAfterSend = 168, kTransmitter = 256;
constexpr long kFirstReplyByte = 351, kReplySilence = 80, kReplyBytes = 22, kClosePause = 256, kDisconnect = 648;
// A reply that drips its 22 bytes just inside the silence each time.
constexpr long kLongestReply = kFirstReplyByte + (kReplyBytes - 1) * kReplySilence;
// A serial reading purges at once and watches 300 ms for a stream, a TCP one
// purges for 200 ms; after each send a serial port waits for its
// transmitter, TCP pauses. Then three request dialogues at most: ENQ, DC1,
// and ENQ DC1 together, each a send and a reply.
constexpr long kBeforeDialogue = kPurge > kStreamWatch ? kPurge : kStreamWatch;
constexpr long kAfterSend = kTransmitter > kPauseAfterSend ? kTransmitter : kPauseAfterSend;
constexpr long kLongestReading = kBeforeDialogue + 3 * (kAfterSend + kLongestReply);
constexpr long kLongestClose = kClosePause + kDisconnect;
constexpr long kOverBound = 1000;

}  // namespace

const char* NameOf(Method m) {
  static const char* const kNames[] = {"Open",         "GetWeight",    "DeviceTest", "GetParameters",
                                       "SetParameter", "GetLastError", "Close",      "destroy"};
  return kNames[static_cast<int>(m)];
}

long BoundMs(Method m) {
  switch (m) {
    case Method::GetWeight: return kLongestReading + kOverBound;
    case Method::DeviceTest: return kLongestReading + kLongestClose + kOverBound;  // a temporary device
    case Method::Close: return kLongestClose + kOverBound;
    case Method::Destroy: return 8 * kLongestClose + kOverBound;  // the component closes its 8 devices
    default: return kOverBound;  // no waits of their own
  }
}

}  // namespace soak
