#include "channel/slot_table.h"

#include <mutex>

namespace pesolan {
namespace {

// Guards every slot's key, the reservations and the key counter.
std::mutex g_tableLock;
bool g_reserved[kSlotCount] = {};
uint32_t g_lastKey = 0;

int FindLocked(int32_t key) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (SlotTable[i].key == key && !(key == 0 && g_reserved[i])) return i;
  }
  return -1;
}

}  // namespace

// Constant-initialised: every slot has its defaults before any code runs.
DeviceSlot SlotTable[kSlotCount];

void ResetSlotTable() {
  const std::lock_guard<std::mutex> lock(g_tableLock);
  for (int i = 0; i < kSlotCount; ++i) {
    SlotTable[i] = DeviceSlot{};
    g_reserved[i] = false;
  }
}

int FindSlot(int32_t key) {
  const std::lock_guard<std::mutex> lock(g_tableLock);
  return FindLocked(key);
}

int ReserveSlot() {
  const std::lock_guard<std::mutex> lock(g_tableLock);
  const int index = FindLocked(0);
  if (index >= 0) g_reserved[index] = true;
  return index;
}

void FillSlot(int index, const DeviceSlot& record) {
  const std::lock_guard<std::mutex> lock(g_tableLock);
  SlotTable[index] = record;
  g_reserved[index] = false;
}

void CancelReservation(int index) {
  const std::lock_guard<std::mutex> lock(g_tableLock);
  g_reserved[index] = false;
}

void FreeSlot(int index) {
  const std::lock_guard<std::mutex> lock(g_tableLock);
  SlotTable[index].key = 0;
}

int32_t TakeKey() {
  const std::lock_guard<std::mutex> lock(g_tableLock);
  for (;;) {
    const int32_t key = static_cast<int32_t>(++g_lastKey);
    // After the counter wraps, keys still held by a claimed slot are skipped.
    if (key != 0 && FindLocked(key) < 0) return key;
  }
}

}  // namespace pesolan
