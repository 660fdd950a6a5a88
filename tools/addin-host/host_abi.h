#pragma once
// The platform's native add-in interface from the host's side: the variant
// record, the tables of an add-in component that the host calls, and the
// memory manager and connection that the host gives it. The command-line
// host keeps its own copy so that it checks the library's binary interface
// instead of sharing the component's declarations.

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace host {

using text16 = char16_t;

#if defined(_WIN32)
#define HOST_CALL __stdcall
#else
#define HOST_CALL
#endif

// Microsoft's compiler, which builds the Windows platform, gives a virtual
// destructor a single table slot; GCC gives it two. A GCC build of this host
// for Windows declares one stand-in slot to keep the tables in step.
#if defined(_WIN32) && !defined(_MSC_VER)
#define HOST_MSVC_TABLES 1
#if defined(__i386__)
#define HOST_DTOR_CC __attribute__((thiscall))
#else
#define HOST_DTOR_CC
#endif
#define HOST_DESTRUCTOR_SLOT(Name) virtual void HOST_DTOR_CC DeletingDestructor(unsigned flags) = 0;
#else
#define HOST_MSVC_TABLES 0
#define HOST_DESTRUCTOR_SLOT(Name) virtual ~Name() {}
#endif

enum : uint16_t {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BOOL = 11,
  VT_I1 = 13,
  VT_UI4 = 16,
  VT_I8 = 17,
  VT_PWSTR = 22,
};

struct Guid {
  uint32_t a;
  uint16_t b, c;
  uint8_t d[8];
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
struct Variant {
  union {
    int8_t i8Val;
    int16_t shortVal;
    int32_t lVal;
    int intVal;
    unsigned int uintVal;
    int64_t llVal;
    uint8_t ui8Val;
    uint16_t ushortVal;
    uint32_t ulVal;
    uint64_t ullVal;
    int32_t errCode;
    long hRes;
    float fltVal;
    double dblVal;
    bool bVal;
    char chVal;
    wchar_t wchVal;
    double date;
    Guid IDVal;
    Variant* pvarVal;
    struct tm tmVal;
    struct {
      void* pInterfaceVal;
      Guid InterfaceID;
    };
    struct {
      char* pstrVal;
      uint32_t strLen;
    };
    struct {
      text16* pwstrVal;
      uint32_t wstrLen;
    };
  };
  uint32_t cbElements;
  uint16_t vt;
};
#pragma GCC diagnostic pop

#if defined(_WIN32)
static_assert(sizeof(Variant) == 48 && offsetof(Variant, vt) == 44, "variant layout, Windows");
#elif defined(__x86_64__)
static_assert(sizeof(Variant) == 64 && offsetof(Variant, vt) == 60, "variant layout, Linux x86_64");
#elif defined(__i386__)
static_assert(sizeof(Variant) == 52 && offsetof(Variant, vt) == 48, "variant layout, Linux x86");
#endif

class MemoryManagerBase {
 public:
  HOST_DESTRUCTOR_SLOT(MemoryManagerBase)
  virtual bool HOST_CALL AllocMemory(void** block, unsigned long bytes) = 0;
  virtual void HOST_CALL FreeMemory(void** block) = 0;
};

class ConnectionBase {
 public:
  HOST_DESTRUCTOR_SLOT(ConnectionBase)
  virtual bool HOST_CALL AddError(unsigned short code, const text16* source, const text16* description,
                                  long scode) = 0;
  virtual bool HOST_CALL Read(text16* name, Variant* value, long* error, text16** description) = 0;
  virtual bool HOST_CALL Write(text16* name, Variant* value) = 0;
  virtual bool HOST_CALL RegisterProfileAs(text16* name) = 0;
  virtual bool HOST_CALL SetEventBufferDepth(long depth) = 0;
  virtual long HOST_CALL GetEventBufferDepth() = 0;
  virtual bool HOST_CALL ExternalEvent(text16* source, text16* message, text16* data) = 0;
  virtual void HOST_CALL CleanEventBuffer() = 0;
  virtual bool HOST_CALL SetStatusLine(text16* line) = 0;
  virtual void HOST_CALL ResetStatusLine() = 0;
};

class InitDone {
 public:
  HOST_DESTRUCTOR_SLOT(InitDone)
  virtual bool HOST_CALL Init(void* connection) = 0;
  virtual bool HOST_CALL setMemManager(void* memory) = 0;
  virtual long HOST_CALL GetInfo() = 0;
  virtual void HOST_CALL Done() = 0;
};

class LanguageExtender {
 public:
  HOST_DESTRUCTOR_SLOT(LanguageExtender)
  virtual bool HOST_CALL RegisterExtensionAs(text16** name) = 0;
  virtual long HOST_CALL GetNProps() = 0;
  virtual long HOST_CALL FindProp(const text16* name) = 0;
  virtual const text16* HOST_CALL GetPropName(long num, long lang) = 0;
  virtual bool HOST_CALL GetPropVal(long num, Variant* value) = 0;
  virtual bool HOST_CALL SetPropVal(long num, Variant* value) = 0;
  virtual bool HOST_CALL IsPropReadable(long num) = 0;
  virtual bool HOST_CALL IsPropWritable(long num) = 0;
  virtual long HOST_CALL GetNMethods() = 0;
  virtual long HOST_CALL FindMethod(const text16* name) = 0;
  virtual const text16* HOST_CALL GetMethodName(long num, long lang) = 0;
  virtual long HOST_CALL GetNParams(long method) = 0;
  virtual bool HOST_CALL GetParamDefValue(long method, long param, Variant* value) = 0;
  virtual bool HOST_CALL HasRetVal(long method) = 0;
  virtual bool HOST_CALL CallAsProc(long method, Variant* params, long count) = 0;
  virtual bool HOST_CALL CallAsFunc(long method, Variant* result, Variant* params, long count) = 0;
};

class Locale {
 public:
  HOST_DESTRUCTOR_SLOT(Locale)
  virtual void HOST_CALL SetLocale(const text16* locale) = 0;
};

// What GetClassObject hands out: three table pointers in this order.
class ComponentBase : public InitDone, public LanguageExtender, public Locale {};

// The library's exports.
using GetClassNamesFn = const text16* (*)();
using GetClassObjectFn = long (*)(const text16* name, ComponentBase** component);
using DestroyObjectFn = long (*)(ComponentBase** component);
using SetPlatformCapabilitiesFn = int32_t (*)(int32_t capabilities);

}  // namespace host
