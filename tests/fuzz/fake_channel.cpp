// A stand-in for the channel operations that plays back the fuzz input as
// what the scale sends: the exchange above it runs unchanged.

#include "fake_channel.h"

#include <cstring>

#include "channel/io.h"
#include "channel/slot_table.h"
#include "fake_os.h"

namespace fuzzing {
namespace {
const uint8_t* g_data = nullptr;
size_t g_size = 0;

bool Take(uint8_t* byte) {
  if (g_size == 0) return false;
  *byte = *g_data++;
  --g_size;
  return true;
}
}  // namespace

void PlayScale(const uint8_t* data, size_t size) {
  g_data = data;
  g_size = size;
}

}  // namespace fuzzing

namespace pesolan {

int ChannelIndex(const DeviceHandle& handle) { return FindSlot(handle.key); }

int32_t ChannelKindAt(int index) { return SlotTable[index].channelKind; }

bool PurgeChannel(int) { return true; }

bool DiscardPending(int) { return true; }

namespace {
// How a byte came, from one more input byte.
void TakeOrigin(ByteOrigin* origin) {
  uint8_t how = 0;
  fuzzing::Take(&how);
  if (origin == nullptr) return;
  origin->behind = how & 0x3F;
  origin->old = (how & 0x40) != 0;
}
}  // namespace

bool WaitForData(int, Detected*) {
  uint8_t mode = 0;
  fuzzing::g_now += 200;
  return fuzzing::Take(&mode) && (mode & 1) != 0;
}

bool SendBytes(int, const uint8_t*, int count) {
  uint8_t ok = 0;
  return count >= 1 && count <= kRequestSize && fuzzing::Take(&ok) && (ok & 1) != 0;
}

bool ReadByte(int, uint8_t* byte, ByteOrigin* origin) {
  *byte = 0;
  fuzzing::g_now += 1;
  if (fuzzing::Take(byte)) {
    TakeOrigin(origin);
    return true;
  }
  fuzzing::g_now += 128;  // nothing came within the limit
  return false;
}

// What came since is played back with the bytes: a look changes nothing.
bool LookAgain(int) { return true; }
void JudgeByte(int, ByteOrigin*) {}
void NoteReadAhead(int) {}
void Pause(int, uint32_t) {}

bool ReadReply(int, uint8_t* buffer, int* count, ByteOrigin* origin) {
  TakeOrigin(origin);
  uint8_t n = 0;
  fuzzing::g_now += 80;
  if (!fuzzing::Take(&n) || (n %= kReplySize + 1) == 0) return false;
  uint8_t held[kReplySize];
  int got = 0;
  while (got < n && fuzzing::Take(&held[got])) ++got;
  if (got == 0) return false;
  std::memcpy(buffer, held, static_cast<size_t>(got));
  *count = got;
  return true;
}

}  // namespace pesolan
