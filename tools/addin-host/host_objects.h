#pragma once
// The objects a host gives a component: a memory manager that records every
// block it hands out, and a connection that records the profile registered.

#include <cstddef>
#include <functional>
#include <set>
#include <string>

#include "host_abi.h"

namespace host {

class MemoryManager final : public MemoryManagerBase {
 public:
  ~MemoryManager();
#if HOST_MSVC_TABLES
  void HOST_DTOR_CC DeletingDestructor(unsigned) override {}
#endif
  bool HOST_CALL AllocMemory(void** block, unsigned long bytes) override;
  void HOST_CALL FreeMemory(void** block) override;

  // Every request fails while refusing is set.
  bool refusing = false;
  // Runs inside every request, as a host that calls the component back would.
  std::function<void()> duringAlloc;
  size_t allocations = 0;
  bool Owns(const void* block) const { return live_.count(block) != 0; }
  size_t LiveBlocks() const { return live_.size(); }

 private:
  std::set<const void*> live_;
};

class Connection final : public ConnectionBase {
 public:
#if HOST_MSVC_TABLES
  void HOST_DTOR_CC DeletingDestructor(unsigned) override {}
#endif
  bool HOST_CALL AddError(unsigned short, const text16*, const text16*, long) override { return true; }
  bool HOST_CALL Read(text16*, Variant*, long*, text16**) override { return false; }
  bool HOST_CALL Write(text16*, Variant*) override { return false; }
  bool HOST_CALL RegisterProfileAs(text16* name) override;
  bool HOST_CALL SetEventBufferDepth(long) override { return true; }
  long HOST_CALL GetEventBufferDepth() override { return 0; }
  bool HOST_CALL ExternalEvent(text16*, text16*, text16*) override { return true; }
  void HOST_CALL CleanEventBuffer() override {}
  bool HOST_CALL SetStatusLine(text16*) override { return true; }
  void HOST_CALL ResetStatusLine() override {}

  int profileCalls = 0;
  std::u16string profile;
  // Runs inside RegisterProfileAs, as a host that reads the component back.
  std::function<void()> duringRegister;
};

}  // namespace host
