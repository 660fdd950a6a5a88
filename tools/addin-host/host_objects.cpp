#include "host_objects.h"

#include <cstdlib>

namespace host {

MemoryManager::~MemoryManager() {
  for (const void* block : live_) std::free(const_cast<void*>(block));
}

bool MemoryManager::AllocMemory(void** block, unsigned long bytes) {
  if (block == nullptr || refusing) return false;
  if (duringAlloc) duringAlloc();
  *block = std::malloc(bytes == 0 ? 1 : bytes);
  if (*block == nullptr) return false;
  live_.insert(*block);
  ++allocations;
  return true;
}

void MemoryManager::FreeMemory(void** block) {
  if (block == nullptr || *block == nullptr) return;
  if (live_.erase(*block) != 0) std::free(*block);
  *block = nullptr;
}

bool Connection::RegisterProfileAs(text16* name) {
  ++profileCalls;
  if (duringRegister) duringRegister();
  profile = name != nullptr ? std::u16string(name) : std::u16string();
  return true;
}

}  // namespace host
