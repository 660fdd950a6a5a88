#include "addin_host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host {
namespace {

// A library built for the other processor width is the usual cause of a
// library that is there and does not load.
const char* const kOtherWidth = sizeof(void*) == 8
                                    ? "this program is 64-bit and takes the 64-bit library (x86_64), not the 32-bit one"
                                    : "this program is 32-bit and takes the 32-bit library (x86, i386), not the 64-bit one";

#if defined(_WIN32)
void* OpenLibrary(const std::string& path) { return LoadLibraryA(path.c_str()); }
void* Symbol(void* lib, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
void CloseLibrary(void* lib) { FreeLibrary(static_cast<HMODULE>(lib)); }
std::string LoadError() {
  const DWORD error = GetLastError();
  std::string text = "LoadLibrary failed with error " + std::to_string(error);
  if (error == ERROR_MOD_NOT_FOUND) text += ": the library, or one that it needs, is not there";
  if (error == ERROR_BAD_EXE_FORMAT) text += ": " + std::string(kOtherWidth);
  return text;
}
#else
void* OpenLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* Symbol(void* lib, const char* name) { return dlsym(lib, name); }
void CloseLibrary(void* lib) { dlclose(lib); }
std::string LoadError() {
  const char* e = dlerror();
  std::string text = e != nullptr ? e : "cannot load the library";
  if (text.find("wrong ELF class") != std::string::npos) text += ": " + std::string(kOtherWidth);
  return text;
}
#endif

template <typename Fn>
Fn Resolve(void* lib, const char* name) {
  return reinterpret_cast<Fn>(Symbol(lib, name));
}

// Takes a text the component handed back: copies it, checks that it is the
// host's zero-terminated block, frees it and clears the pointer.
std::u16string TakeText(MemoryManager* memory, Variant& v, bool* inHostMemory) {
  std::u16string text(v.pwstrVal, v.wstrLen);
  if (memory == nullptr || !memory->Owns(v.pwstrVal) || v.pwstrVal[v.wstrLen] != 0) *inHostMemory = false;
  FreeText(memory, v.pwstrVal);
  v.pwstrVal = nullptr;
  return text;
}

}  // namespace

Library::Library(const std::string& path) {
  handle_ = OpenLibrary(path);
  if (handle_ == nullptr) {
    error_ = LoadError();
    return;
  }
  getClassNames = Resolve<GetClassNamesFn>(handle_, "GetClassNames");
  getClassObject = Resolve<GetClassObjectFn>(handle_, "GetClassObject");
  destroyObject = Resolve<DestroyObjectFn>(handle_, "DestroyObject");
  setPlatformCapabilities = Resolve<SetPlatformCapabilitiesFn>(handle_, "SetPlatformCapabilities");
  if (!getClassNames || !getClassObject || !destroyObject || !setPlatformCapabilities) {
    error_ = "the library lacks the add-in exports";
    getClassObject = nullptr;
  }
}

Library::~Library() { Unload(); }

void Library::Unload() {
  if (handle_ != nullptr) CloseLibrary(handle_);
  handle_ = nullptr;
  getClassNames = nullptr;
  getClassObject = nullptr;
  destroyObject = nullptr;
  setPlatformCapabilities = nullptr;
}

Arg Arg::Empty() { return Arg{}; }

Arg Arg::Int(int32_t value) {
  Arg a;
  a.v.vt = VT_I4;
  a.v.lVal = value;
  return a;
}

Arg Arg::Double(double value) {
  Arg a;
  a.v.vt = VT_R8;
  a.v.dblVal = value;
  return a;
}

Arg Arg::Bool(bool value) {
  Arg a;
  a.v.vt = VT_BOOL;
  a.v.bVal = value;
  return a;
}

Arg Arg::Text(const std::u16string& text) {
  Arg a;
  a.storage = std::make_shared<std::u16string>(text);
  a.v.vt = VT_PWSTR;
  a.v.pwstrVal = a.storage->data();
  a.v.wstrLen = static_cast<uint32_t>(text.size());
  return a;
}

Component::Component(Library& library, MemoryManager* memory, Connection* connection, const std::u16string& locale)
    : library_(library), memory_(memory) {
  if (!library.ok()) return;
  library.setPlatformCapabilities(1);
  const std::u16string name = library.getClassNames();
  created_ = library.getClassObject(name.c_str(), &object_);
  if (object_ == nullptr) return;
  object_->Init(connection);
  object_->setMemManager(memory);
  object_->SetLocale(locale.c_str());
  text16* extension = nullptr;
  if (object_->RegisterExtensionAs(&extension) && extension != nullptr) {
    extensionName = extension;
    FreeText(memory_, extension);
  }
}

Component::~Component() {
  if (object_ != nullptr && library_.ok()) library_.destroyObject(&object_);
}

long Component::ParamsOf(const std::u16string& method) {
  if (object_ == nullptr) return -1;
  return object_->GetNParams(object_->FindMethod(method.c_str()));
}

CallResult Component::Call(const std::u16string& method, std::vector<Arg> args) {
  CallResult r;
  if (object_ == nullptr) return r;
  std::vector<Variant> params;
  for (const Arg& a : args) params.push_back(a.v);
  const long number = object_->FindMethod(method.c_str());
  r.status = object_->CallAsFunc(number, &r.result, params.empty() ? nullptr : params.data(),
                                 static_cast<long>(params.size()));
  if (r.result.vt == VT_PWSTR) r.resultText = TakeText(memory_, r.result, &r.textsInHostMemory);
  for (size_t i = 0; i < params.size(); ++i) {
    const bool handedBack = params[i].vt == VT_PWSTR && params[i].pwstrVal != args[i].v.pwstrVal;
    r.argTexts.push_back(handedBack ? TakeText(memory_, params[i], &r.textsInHostMemory) : std::u16string());
  }
  r.args = params;
  return r;
}

std::u16string TextOf(const Variant& v) {
  if (v.vt != VT_PWSTR || v.pwstrVal == nullptr) return std::u16string();
  return std::u16string(v.pwstrVal, v.wstrLen);
}

void FreeText(MemoryManager* memory, const text16* text) {
  if (memory == nullptr || text == nullptr) return;
  void* block = const_cast<text16*>(text);
  memory->FreeMemory(&block);
}

}  // namespace host
