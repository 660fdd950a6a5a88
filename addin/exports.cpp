// The library's exports: the four functions the host calls, the three that
// nothing calls, and the work done when the library is loaded and unloaded.

#include <algorithm>
#include <cstdint>
#include <new>

#include "addin/component.h"
#include "pesolan_version.h"
#include "platform/os.h"

#if defined(_WIN32)
#define PESOLAN_EXPORT __declspec(dllexport)
#else
#define PESOLAN_EXPORT __attribute__((visibility("default")))
#endif

namespace {

const text16 kClassNames[] = u"Vestra_Scale_nLP";

// The driver version in the library file itself, for `strings` and the
// package check (the Windows DLLs carry a version resource besides).
#if defined(__GNUC__)
__attribute__((used))
#endif
const char kVersionText[] = "Pesolan driver version " PESOLAN_VERSION;
constexpr uint32_t kUnloadPauseMs = 128;

// The class-name list: built when the library is loaded, before the host
// can call anything, and freed when it is unloaded.
text16* g_classNames = nullptr;

struct LibraryLifetime {
  LibraryLifetime() {
    constexpr size_t units = sizeof kClassNames / sizeof kClassNames[0];
    g_classNames = new (std::nothrow) text16[units]();
    if (g_classNames != nullptr) std::copy(kClassNames, kClassNames + units, g_classNames);
  }
  ~LibraryLifetime() {
    os::Sleep(kUnloadPauseMs);
    delete[] g_classNames;
    g_classNames = nullptr;
  }
};

LibraryLifetime g_lifetime;

}  // namespace

extern "C" {

PESOLAN_EXPORT const text16* GetClassNames() { return g_classNames; }

PESOLAN_EXPORT long GetClassObject(const text16* /*className*/, IComponentBase** component) {
  if (component == nullptr || *component != nullptr) return 0;
  auto* created = new (std::nothrow) addin::Vestra_Scale_nLP();
  if (created == nullptr) return 0;
  *component = created;
  // On Win64 a pointer cut to a 32-bit long could be 0, which means failure.
  const long result = static_cast<long>(reinterpret_cast<intptr_t>(created));
  return result != 0 ? result : 1;
}

PESOLAN_EXPORT long DestroyObject(IComponentBase** component) {
  if (component == nullptr || *component == nullptr) return -1;
  addin::DestroyComponent(*component);
  *component = nullptr;
  return 0;
}

PESOLAN_EXPORT AppCapabilities SetPlatformCapabilities(const AppCapabilities /*capabilities*/) {
  return eAppCapabilities1;
}

}  // extern "C"

// Exported for compatibility; nothing calls them.
class PESOLAN_EXPORT CPesolan {
 public:
  CPesolan();
  CPesolan& operator=(const CPesolan&);
  CPesolan& operator=(CPesolan&&);
};

CPesolan::CPesolan() = default;
CPesolan& CPesolan::operator=(const CPesolan&) { return *this; }
CPesolan& CPesolan::operator=(CPesolan&&) { return *this; }

PESOLAN_EXPORT int nPesolan = 0;
PESOLAN_EXPORT int fnPesolan() { return 0; }

#if defined(_WIN32)
#include <windows.h>
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
