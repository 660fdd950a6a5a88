#include "channel/slot_table.h"

namespace pesolan {

DeviceSlot SlotTable[kSlotCount];
char DecimalSeparator = '.';

void ResetSlotTable() {
  for (DeviceSlot& slot : SlotTable) slot = DeviceSlot{};
}

int FindSlot(int32_t key) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (SlotTable[i].key == key) return i;
  }
  return -1;
}

}  // namespace pesolan
