#include "host_objects.h"

#include "runtime.h"

bool MemoryManager::AllocMemory(void** block, unsigned long bytes) {
  if (magic != 0x4D454D31 || block == nullptr || bytes == 0 || bytes > (1ul << 20)) {
    ++unexpected;
    return false;
  }
  *block = rt::Allocate(bytes);
  ++allocations;
  return *block != nullptr;
}

void MemoryManager::FreeMemory(void**) { ++unexpected; }

void MemoryManager::Release(void* block) { rt::Free(block); }

bool Connection::RegisterProfileAs(text16* name) {
  if (magic != 0x434F4E31) return Unexpected();
  ++profiles;
  profileNamed = name != nullptr && rt::Equal(name, L"Vestra_Scale_nLP");
  return true;
}
