#pragma once
// Loading an add-in library the way the platform does and calling its
// component: the four exports, Init with a connection, setMemManager,
// SetLocale, RegisterExtensionAs, methods found by name and called with
// variant arrays, returned texts freed, the object destroyed.

#include <memory>
#include <string>
#include <vector>

#include "host_abi.h"
#include "host_objects.h"

namespace host {

class Library {
 public:
  explicit Library(const std::string& path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool ok() const { return getClassObject != nullptr; }
  const std::string& error() const { return error_; }
  // Unloads now (the destructor would otherwise).
  void Unload();

  GetClassNamesFn getClassNames = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  DestroyObjectFn destroyObject = nullptr;
  SetPlatformCapabilitiesFn setPlatformCapabilities = nullptr;

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// A variant the host builds for a call; texts point into owned storage.
struct Arg {
  static Arg Empty();
  static Arg Int(int32_t value);
  static Arg Double(double value);
  static Arg Bool(bool value);
  static Arg Text(const std::u16string& text);
  Variant v{};
  std::shared_ptr<std::u16string> storage;
};

struct CallResult {
  bool status = false;       // what CallAsFunc returned
  Variant result{};          // the result variant after the call
  std::vector<Variant> args; // the arguments after the call
  // Texts the component handed back (already copied and freed; their
  // pointers in result and args are cleared).
  std::u16string resultText;
  std::vector<std::u16string> argTexts;
  // Every text handed back was a block of the host's memory, zero-terminated
  // right after its stated length.
  bool textsInHostMemory = true;
  bool ok() const { return status && result.vt == VT_BOOL && result.bVal; }
};

class Component {
 public:
  // Creates the component and introduces the host to it. memory or
  // connection may be null to leave that step out.
  Component(Library& library, MemoryManager* memory, Connection* connection, const std::u16string& locale = u"C");
  ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  bool ok() const { return object_ != nullptr; }
  long created() const { return created_; }
  InitDone* initDone() { return object_; }
  LanguageExtender* extender() { return object_; }
  Locale* locale() { return object_; }
  ComponentBase** objectSlot() { return &object_; }

  // Finds the method by name and calls it; texts the component returned
  // are copied into the result and freed in the host's memory.
  CallResult Call(const std::u16string& method, std::vector<Arg> args);
  // The method's argument count, as the component reports it.
  long ParamsOf(const std::u16string& method);

  std::u16string extensionName;

 private:
  Library& library_;
  MemoryManager* memory_;
  ComponentBase* object_ = nullptr;
  long created_ = 0;
};

// Text of a variant (empty unless it is VT_PWSTR).
std::u16string TextOf(const Variant& v);
// Frees a text the component returned, in the host's memory.
void FreeText(MemoryManager* memory, const text16* text);

}  // namespace host
