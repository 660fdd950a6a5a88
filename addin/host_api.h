#pragma once
// The host platform's native add-in interface as the component sees it: the
// variant record, the component's three interface tables, and the host's
// memory manager and connection. Written from the platform's published
// binary facts; the static_asserts below stop a build whose layout is wrong.

#include <cstddef>
#include <cstdint>
#include <ctime>

using text16 = char16_t;  // the host's 16-bit text unit on every target

// ---- calling conventions and the destructor slot ---------------------------

#if defined(_WIN32)
#define ADDIN_API __stdcall
#else
#define ADDIN_API
#endif

// The Windows host is built with Microsoft's compiler, which gives a virtual
// destructor one table slot (a deleting destructor taking a flags argument,
// thiscall on x86); GCC and Clang give it two. A GCC build for Windows
// therefore declares one stand-in method in place of the destructor.
#if defined(_WIN32) && !defined(_MSC_VER)
#define PESOLAN_MSVC_TABLES 1
#if defined(__i386__)
#define MSVC_DTOR_CC __attribute__((thiscall))
#else
#define MSVC_DTOR_CC
#endif
#define HOST_INTERFACE_DESTRUCTOR(Name) virtual void MSVC_DTOR_CC MsvcDeletingDestructor(unsigned flags) = 0;
#else
#define PESOLAN_MSVC_TABLES 0
#define HOST_INTERFACE_DESTRUCTOR(Name) virtual ~Name() {}
#endif

// ---- tVariant -------------------------------------------------------------

enum VarType : uint16_t {
  VTYPE_EMPTY = 0,
  VTYPE_I2 = 2,
  VTYPE_I4 = 3,
  VTYPE_R4 = 4,
  VTYPE_R8 = 5,
  VTYPE_DATE = 6,
  VTYPE_TM = 7,
  VTYPE_PSTR = 8,
  VTYPE_ERROR = 10,
  VTYPE_BOOL = 11,
  VTYPE_I1 = 13,
  VTYPE_UI1 = 14,
  VTYPE_UI2 = 15,
  VTYPE_UI4 = 16,
  VTYPE_I8 = 17,
  VTYPE_UI8 = 18,
  VTYPE_INT = 19,
  VTYPE_UINT = 20,
  VTYPE_PWSTR = 22,
  VTYPE_BLOB = 23,
};

struct HostIid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// The host's variant is a union with anonymous structs, a language
// extension that every compiler of the platform accepts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
struct tVariant {
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
    HostIid IDVal;
    tVariant* pvarVal;
    struct tm tmVal;
    struct {
      void* pInterfaceVal;
      HostIid InterfaceID;
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

#if defined(_WIN64)
static_assert(sizeof(tVariant) == 48, "tVariant is 48 bytes on Windows x64");
static_assert(offsetof(tVariant, cbElements) == 40 && offsetof(tVariant, vt) == 44, "tVariant tail, Windows x64");
static_assert(offsetof(tVariant, wstrLen) == 8, "wstrLen follows the pointer, Windows x64");
#elif defined(_WIN32)
static_assert(sizeof(tVariant) == 48, "tVariant is 48 bytes on Windows x86");
static_assert(offsetof(tVariant, cbElements) == 40 && offsetof(tVariant, vt) == 44, "tVariant tail, Windows x86");
static_assert(offsetof(tVariant, wstrLen) == 4, "wstrLen follows the pointer, Windows x86");
#elif defined(__x86_64__)
static_assert(sizeof(tVariant) == 64, "tVariant is 64 bytes on Linux x86_64");
static_assert(offsetof(tVariant, cbElements) == 56 && offsetof(tVariant, vt) == 60, "tVariant tail, Linux x86_64");
static_assert(offsetof(tVariant, wstrLen) == 8, "wstrLen follows the pointer, Linux x86_64");
#elif defined(__i386__)
// i386 System V: doubles and 64-bit integers are aligned to 4 inside structures.
static_assert(sizeof(tVariant) == 52, "tVariant is 52 bytes on Linux x86");
static_assert(offsetof(tVariant, cbElements) == 44 && offsetof(tVariant, vt) == 48, "tVariant tail, Linux x86");
static_assert(offsetof(tVariant, wstrLen) == 4, "wstrLen follows the pointer, Linux x86");
#else
#error "the layout of tVariant on this target is not known"
#endif
static_assert(sizeof(text16) == 2, "texts cross the boundary in 16-bit units");

// ---- the host's objects the component calls --------------------------------

class IMemoryManager {
 public:
  HOST_INTERFACE_DESTRUCTOR(IMemoryManager)
  virtual bool ADDIN_API AllocMemory(void** block, unsigned long bytes) = 0;
  virtual void ADDIN_API FreeMemory(void** block) = 0;
};

class IAddInDefBase {
 public:
  HOST_INTERFACE_DESTRUCTOR(IAddInDefBase)
  virtual bool ADDIN_API AddError(unsigned short code, const text16* source, const text16* description,
                                  long scode) = 0;
  virtual bool ADDIN_API Read(text16* name, tVariant* value, long* error, text16** description) = 0;
  virtual bool ADDIN_API Write(text16* name, tVariant* value) = 0;
  virtual bool ADDIN_API RegisterProfileAs(text16* name) = 0;
  virtual bool ADDIN_API SetEventBufferDepth(long depth) = 0;
  virtual long ADDIN_API GetEventBufferDepth() = 0;
  virtual bool ADDIN_API ExternalEvent(text16* source, text16* message, text16* data) = 0;
  virtual void ADDIN_API CleanEventBuffer() = 0;
  virtual bool ADDIN_API SetStatusLine(text16* line) = 0;
  virtual void ADDIN_API ResetStatusLine() = 0;
};

// ---- the component's interfaces ---------------------------------------------

class IInitDoneBase {
 public:
  HOST_INTERFACE_DESTRUCTOR(IInitDoneBase)
  virtual bool ADDIN_API Init(void* connection) = 0;
  virtual bool ADDIN_API setMemManager(void* memoryManager) = 0;
  virtual long ADDIN_API GetInfo() = 0;
  virtual void ADDIN_API Done() = 0;
};

class ILanguageExtenderBase {
 public:
  HOST_INTERFACE_DESTRUCTOR(ILanguageExtenderBase)
  virtual bool ADDIN_API RegisterExtensionAs(text16** name) = 0;
  virtual long ADDIN_API GetNProps() = 0;
  virtual long ADDIN_API FindProp(const text16* name) = 0;
  virtual const text16* ADDIN_API GetPropName(long num, long lang) = 0;
  virtual bool ADDIN_API GetPropVal(long num, tVariant* value) = 0;
  virtual bool ADDIN_API SetPropVal(long num, tVariant* value) = 0;
  virtual bool ADDIN_API IsPropReadable(long num) = 0;
  virtual bool ADDIN_API IsPropWritable(long num) = 0;
  virtual long ADDIN_API GetNMethods() = 0;
  virtual long ADDIN_API FindMethod(const text16* name) = 0;
  virtual const text16* ADDIN_API GetMethodName(long num, long lang) = 0;
  virtual long ADDIN_API GetNParams(long method) = 0;
  virtual bool ADDIN_API GetParamDefValue(long method, long param, tVariant* value) = 0;
  virtual bool ADDIN_API HasRetVal(long method) = 0;
  virtual bool ADDIN_API CallAsProc(long method, tVariant* params, long count) = 0;
  virtual bool ADDIN_API CallAsFunc(long method, tVariant* result, tVariant* params, long count) = 0;
};

class LocaleBase {
 public:
  HOST_INTERFACE_DESTRUCTOR(LocaleBase)
  virtual void ADDIN_API SetLocale(const text16* locale) = 0;
};

class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase {
#if !PESOLAN_MSVC_TABLES
 public:
  virtual ~IComponentBase() {}
#endif
};

// Capability levels the host announces; the component uses level 1.
enum AppCapabilities : int32_t {
  eAppCapabilitiesInvalid = -1,
  eAppCapabilities1 = 1,
};
