#pragma once
// The platform's add-in interface as a platform developer declares it for
// Microsoft's C++ ABI: ordinary interface classes with virtual destructors
// and __stdcall methods. No hand-made tables, offsets or stand-in
// destructors: the compiler lays the tables out.

typedef wchar_t text16;  // the platform's 16-bit text unit
typedef signed char int8;
typedef unsigned char uint8;
typedef short int16;
typedef unsigned short uint16;
typedef int int32;
typedef unsigned int uint32;
typedef long long int64;
typedef unsigned long long uint64;

enum { VTYPE_EMPTY = 0, VTYPE_I4 = 3, VTYPE_R8 = 5, VTYPE_BOOL = 11, VTYPE_PWSTR = 22 };

// The runtime's struct tm: nine ints.
struct tm {
  int tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
};

struct IID {
  uint32 data1;
  uint16 data2, data3;
  uint8 data4[8];
};

struct tVariant {
  union {
    int8 i8Val;
    int16 shortVal;
    int32 lVal;
    int intVal;
    unsigned int uintVal;
    int64 llVal;
    uint8 ui8Val;
    uint16 ushortVal;
    uint32 ulVal;
    uint64 ullVal;
    int32 errCode;
    long hRes;
    float fltVal;
    double dblVal;
    bool bVal;
    char chVal;
    wchar_t wchVal;
    double date;
    IID IDVal;
    tVariant* pvarVal;
    struct tm tmVal;
    struct {
      void* pInterfaceVal;
      IID InterfaceID;
    } interfaceVal;
    struct {
      char* pstrVal;
      uint32 strLen;
    } strVal;
    struct {
      text16* pwstrVal;
      uint32 wstrLen;
    } wstrVal;
  };
  uint32 cbElements;
  uint16 vt;
};

class IInitDoneBase {
 public:
  virtual ~IInitDoneBase() {}
  virtual bool __stdcall Init(void* connection) = 0;
  virtual bool __stdcall setMemManager(void* memoryManager) = 0;
  virtual long __stdcall GetInfo() = 0;
  virtual void __stdcall Done() = 0;
};

class ILanguageExtenderBase {
 public:
  virtual ~ILanguageExtenderBase() {}
  virtual bool __stdcall RegisterExtensionAs(text16** name) = 0;
  virtual long __stdcall GetNProps() = 0;
  virtual long __stdcall FindProp(const text16* name) = 0;
  virtual const text16* __stdcall GetPropName(long num, long lang) = 0;
  virtual bool __stdcall GetPropVal(long num, tVariant* value) = 0;
  virtual bool __stdcall SetPropVal(long num, tVariant* value) = 0;
  virtual bool __stdcall IsPropReadable(long num) = 0;
  virtual bool __stdcall IsPropWritable(long num) = 0;
  virtual long __stdcall GetNMethods() = 0;
  virtual long __stdcall FindMethod(const text16* name) = 0;
  virtual const text16* __stdcall GetMethodName(long num, long lang) = 0;
  virtual long __stdcall GetNParams(long method) = 0;
  virtual bool __stdcall GetParamDefValue(long method, long param, tVariant* value) = 0;
  virtual bool __stdcall HasRetVal(long method) = 0;
  virtual bool __stdcall CallAsProc(long method, tVariant* params, long count) = 0;
  virtual bool __stdcall CallAsFunc(long method, tVariant* result, tVariant* params, long count) = 0;
};

class LocaleBase {
 public:
  virtual ~LocaleBase() {}
  virtual void __stdcall SetLocale(const text16* locale) = 0;
};

class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase {
 public:
  virtual ~IComponentBase() {}
};

// What the host gives the component.
class IMemoryManager {
 public:
  virtual ~IMemoryManager() {}
  virtual bool __stdcall AllocMemory(void** block, unsigned long bytes) = 0;
  virtual void __stdcall FreeMemory(void** block) = 0;
};

class IAddInDefBase {
 public:
  virtual ~IAddInDefBase() {}
  virtual bool __stdcall AddError(unsigned short code, const text16* source, const text16* description,
                                  long scode) = 0;
  virtual bool __stdcall Read(text16* name, tVariant* value, long* error, text16** description) = 0;
  virtual bool __stdcall Write(text16* name, tVariant* value) = 0;
  virtual bool __stdcall RegisterProfileAs(text16* name) = 0;
  virtual bool __stdcall SetEventBufferDepth(long depth) = 0;
  virtual long __stdcall GetEventBufferDepth() = 0;
  virtual bool __stdcall ExternalEvent(text16* source, text16* message, text16* data) = 0;
  virtual void __stdcall CleanEventBuffer() = 0;
  virtual bool __stdcall SetStatusLine(text16* line) = 0;
  virtual void __stdcall ResetStatusLine() = 0;
};

// The library's exports (C linkage, the default convention).
extern "C" {
typedef const text16* (*GetClassNamesFn)();
typedef long (*GetClassObjectFn)(const text16* name, IComponentBase** component);
typedef long (*DestroyObjectFn)(IComponentBase** component);
typedef int (*SetPlatformCapabilitiesFn)(int capabilities);
}

static_assert(sizeof(text16) == 2, "16-bit texts");
static_assert(sizeof(tVariant) == 48, "the platform's variant is 48 bytes on Windows");
static_assert(__builtin_offsetof(tVariant, vt) == 44, "vt follows the union and cbElements");
