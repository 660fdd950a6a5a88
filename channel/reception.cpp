#include "channel/reception.h"

#include <algorithm>
#include <cstring>

namespace pesolan {
namespace {

// A scale's clock may run a few percent fast, and a byte may be half across
// the line, or waiting in the UART, when the purge is made: room for those,
// but less than the shortest weight line, so that no whole old line fits.
constexpr uint64_t kFastClockPercent = 105;
constexpr uint32_t kLeewayBytes = 8;

}  // namespace

bool Intake::Add(const uint8_t* arrival, int size) {
  if (size <= 0 || size > kIntakeSize - count) return false;
  std::memcpy(bytes + count, arrival, static_cast<size_t>(size));
  for (int i = 0; i < size; ++i) behind[count + i] = static_cast<uint8_t>(std::min(size - 1 - i, 255));
  count += size;
  return true;
}

uint8_t Intake::Take(ByteOrigin* origin) {
  origin->behind = behind[taken];
  origin->old = false;
  return bytes[taken++];
}

void SerialPace::Restart(uint64_t nowUs, uint32_t microsecondsPerChar) {
  purgedUs = nowUs;
  charMicroseconds = microsecondsPerChar > 0 ? microsecondsPerChar : 1042;
  taken = oldBelow = 0;
}

ByteOrigin SerialPace::Judge(uint32_t queued, uint64_t nowUs) {
  const uint64_t elapsed = nowUs > purgedUs ? nowUs - purgedUs : 0;
  const uint64_t carried = elapsed * kFastClockPercent / 100 / charMicroseconds + kLeewayBytes;
  const uint64_t received = static_cast<uint64_t>(taken) + 1 + queued;
  if (received > carried) oldBelow = static_cast<uint32_t>(std::max<uint64_t>(oldBelow, received - carried));
  ByteOrigin origin;
  origin.behind = queued;
  origin.old = taken < oldBelow;
  ++taken;
  return origin;
}

}  // namespace pesolan
