#pragma once
// The memory manager and the connection that the host gives the component.
// Each records how it was called, so that a call through the wrong table
// slot, or with the wrong object, shows.

#include "interfaces.h"

class MemoryManager : public IMemoryManager {
 public:
  bool __stdcall AllocMemory(void** block, unsigned long bytes) override;
  void __stdcall FreeMemory(void** block) override;
  // Frees what the component allocated (the host's part of the bargain).
  void Release(void* block);

  const unsigned magic = 0x4D454D31;  // "MEM1": this is the object we gave
  int allocations = 0;
  int unexpected = 0;  // calls the component must not make, or made on the wrong object
};

class Connection : public IAddInDefBase {
 public:
  bool __stdcall AddError(unsigned short, const text16*, const text16*, long) override { return Unexpected(); }
  bool __stdcall Read(text16*, tVariant*, long*, text16**) override { return Unexpected(); }
  bool __stdcall Write(text16*, tVariant*) override { return Unexpected(); }
  bool __stdcall RegisterProfileAs(text16* name) override;
  bool __stdcall SetEventBufferDepth(long) override { return Unexpected(); }
  long __stdcall GetEventBufferDepth() override { return Unexpected(); }
  bool __stdcall ExternalEvent(text16*, text16*, text16*) override { return Unexpected(); }
  void __stdcall CleanEventBuffer() override { Unexpected(); }
  bool __stdcall SetStatusLine(text16*) override { return Unexpected(); }
  void __stdcall ResetStatusLine() override { Unexpected(); }

  const unsigned magic = 0x434F4E31;  // "CON1"
  int profiles = 0;
  bool profileNamed = false;  // the profile had the class's name
  int unexpected = 0;

 private:
  bool Unexpected() {
    ++unexpected;
    return false;
  }
};
