#include "driver/device_registry.h"

#include "channel/connect.h"
#include "platform/os.h"

namespace pesolan {
namespace {
constexpr uint32_t kClosePauseMs = 256;
}

int32_t DeviceRegistry::OpenDevice(const ConnectionSettings& settings) {
  DeviceEntry* entry = nullptr;
  for (DeviceEntry& e : entries_) {
    if (e.number == 0) {
      entry = &e;
      break;
    }
  }
  if (entry == nullptr) return 0;
  auto handle = std::make_unique<DeviceHandle>();
  const int32_t number = static_cast<int32_t>(entry - entries_) + 1;
  entry->number = number;
  currentDevice = number;
  entry->channel = settings.channel;
  entry->unit = settings.unit;
  entry->allowUnstable = settings.allowUnstable;
  entry->handle = std::move(handle);
  if (Connect(*entry->handle, entry->channel)) {
    lastError.Clear();
  } else if (GetError(*entry->handle) != NoError) {
    lastError.TakeFrom(*entry->handle);
  }
  return number;
}

bool DeviceRegistry::CloseDevice(int32_t number) {
  DeviceEntry* entry = FindDevice(number);
  if (entry == nullptr) return false;
  Disconnect(*entry->handle);
  os::Sleep(kClosePauseMs);
  entry->number = 0;
  entry->channel = ChannelSettings{};
  entry->handle.reset();  // releasing the handle disconnects it once more
  currentDevice = -1;
  return true;
}

DeviceEntry* DeviceRegistry::FindDevice(int32_t number) {
  if (number < 1 || number > kDeviceCount) return nullptr;
  DeviceEntry& entry = entries_[number - 1];
  return entry.number == number ? &entry : nullptr;
}

void DeviceRegistry::ReleaseAll() {
  for (DeviceEntry& entry : entries_) {
    entry.handle.reset();
    entry.number = 0;
  }
}

}  // namespace pesolan
