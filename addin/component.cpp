#include "addin/component.h"

#include <algorithm>
#include <clocale>
#include <iterator>
#include <cstdlib>
#include <string>

#include "addin/cp1251.h"
#include "addin/methods.h"
#include "addin/variants.h"

namespace addin {
namespace {

const text16 kClassName[] = u"Vestra_Scale_nLP";

bool IsMethod(long method) { return method >= 0 && method < kMethodCount; }

// No exception may reach the host: every entry runs its body through here.
template <typename Result, typename Body>
Result Guarded(Result fallback, Body body) {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

using CallLock = std::lock_guard<std::mutex>;

const text16* HostCopy(IMemoryManager* memory, const text16* text) {
  if (text == nullptr) return nullptr;
  return CopyToHost(memory, text, TextLength(text, SIZE_MAX));
}

}  // namespace

Vestra_Scale_nLP::~Vestra_Scale_nLP() {
  try {
    driver_.ReleaseDevices();
  } catch (...) {
  }
}

#if PESOLAN_MSVC_TABLES
void Vestra_Scale_nLP::MsvcDeletingDestructor(unsigned flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~Vestra_Scale_nLP();
  }
}
#endif

void DestroyComponent(IComponentBase* component) {
#if PESOLAN_MSVC_TABLES
  static_cast<IInitDoneBase*>(component)->MsvcDeletingDestructor(1);
#else
  delete component;
#endif
}

// ---- IInitDoneBase ------------------------------------------------------------

bool Vestra_Scale_nLP::Init(void* connection) {
  IAddInDefBase* host = static_cast<IAddInDefBase*>(connection);
  {
    const CallLock lock(calls_);
    connection_ = host;
  }
  if (host == nullptr) return false;
  // Without the lock: the host may read the component back from here.
  text16 profile[sizeof kClassName / sizeof kClassName[0]];
  std::copy(std::begin(kClassName), std::end(kClassName), profile);
  host->RegisterProfileAs(profile);
  return true;
}

bool Vestra_Scale_nLP::setMemManager(void* memoryManager) {
  const CallLock lock(calls_);
  memory_ = static_cast<IMemoryManager*>(memoryManager);
  return memory_ != nullptr;
}

long Vestra_Scale_nLP::GetInfo() { return kComponentVersion; }

void Vestra_Scale_nLP::Done() {}

// ---- ILanguageExtenderBase: name and properties -------------------------------

IMemoryManager* Vestra_Scale_nLP::Memory() {
  const CallLock lock(calls_);
  return memory_;
}

bool Vestra_Scale_nLP::RegisterExtensionAs(text16** name) {
  IMemoryManager* const memory = Memory();
  if (memory == nullptr || name == nullptr) return false;
  Guarded<const text16*>(nullptr, [&] {
    text16* copy = CopyToHost(memory, kClassName, sizeof kClassName / sizeof kClassName[0] - 1);
    if (copy != nullptr) *name = copy;
    return copy;
  });
  return true;
}

long Vestra_Scale_nLP::GetNProps() { return kPropertyCount; }

long Vestra_Scale_nLP::FindProp(const text16* name) { return FindProperty(name); }

const text16* Vestra_Scale_nLP::GetPropName(long num, long lang) {
  if (num < 0 || num >= kPropertyCount) return nullptr;
  return HostCopy(Memory(), NameIn(kProperties[num], lang));
}

bool Vestra_Scale_nLP::GetPropVal(long num, tVariant* value) {
  const CallLock lock(calls_);
  if (num != 0 || value == nullptr) return false;
  SetInt(value, propertyValue_);
  return true;
}

bool Vestra_Scale_nLP::SetPropVal(long num, tVariant* value) {
  const CallLock lock(calls_);
  if (num != 0 || value == nullptr) return false;
  value->vt = VTYPE_I4;
  propertyValue_ = value->lVal;
  return true;
}

bool Vestra_Scale_nLP::IsPropReadable(long num) { return num == 0; }
bool Vestra_Scale_nLP::IsPropWritable(long num) { return num == 0; }

// ---- ILanguageExtenderBase: methods --------------------------------------------

long Vestra_Scale_nLP::GetNMethods() { return kMethodCount; }

long Vestra_Scale_nLP::FindMethod(const text16* name) { return addin::FindMethod(name); }

const text16* Vestra_Scale_nLP::GetMethodName(long num, long lang) {
  if (!IsMethod(num)) return nullptr;
  return HostCopy(Memory(), NameIn(kMethods[num].name, lang));
}

long Vestra_Scale_nLP::GetNParams(long method) { return IsMethod(method) ? kMethods[method].params : 0; }

bool Vestra_Scale_nLP::GetParamDefValue(long method, long, tVariant* value) {
  if (value != nullptr) value->vt = VTYPE_EMPTY;
  return IsMethod(method);
}

bool Vestra_Scale_nLP::HasRetVal(long method) { return IsMethod(method); }

bool Vestra_Scale_nLP::CallAsProc(long, tVariant*, long) { return false; }

bool Vestra_Scale_nLP::CallAsFunc(long method, tVariant* result, tVariant* params, long count) {
  if (!IsMethod(method) || result == nullptr) return false;
  const Method& m = kMethods[method];
  // A call with fewer arguments than the method reads is malformed.
  if (m.params > 0 && (params == nullptr || count < m.params)) return false;
  return Guarded(false, [&] {
    CallContext context{driver_};
    IMemoryManager* memory = nullptr;
    {
      const CallLock lock(calls_);
      memory = memory_;
      if (!m.call(context, result, params)) return false;
    }
    // The texts go to the host's memory without the lock: its allocator may
    // call back into this component.
    DeliverReplies(context, memory, result);
    return true;
  });
}

// ---- LocaleBase -----------------------------------------------------------------

void Vestra_Scale_nLP::SetLocale(const text16* locale) {
  if (locale == nullptr) return;
  const CallLock lock(calls_);
#if defined(_WIN32)
  pesolan::ChangeProcessLocale([&] { _wsetlocale(LC_ALL, reinterpret_cast<const wchar_t*>(locale)); });
#else
  // Locale names are ASCII.
  char name[128];
  if (!ToCp1251(locale, SIZE_MAX, name, sizeof name)) return;
  pesolan::ChangeProcessLocale([&] { std::setlocale(LC_ALL, name); });
#endif
}

}  // namespace addin
