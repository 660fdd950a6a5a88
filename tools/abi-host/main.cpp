// A host built the way the platform is: Microsoft's C++ ABI, the interfaces
// as ordinary classes. It loads Pesolan.dll, drives one component through
// every table the platform uses, and prints one line per check.
//   abi-host.exe   (Pesolan.dll and scale-sim.exe beside it)

#include "calls.h"
#include "host_objects.h"
#include "interfaces.h"
#include "kernel32.h"
#include "runtime.h"
#include "sim.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const char* what, const char* more = "") {
  rt::Print(ok ? "ok: " : "FAILED: ");
  rt::Print(what);
  rt::Print(more);
  rt::Print("\n");
  ++(ok ? g_passed : g_failed);
}

struct MethodRow {
  const wchar_t* english;
  const wchar_t* russian;
  long params;
  const char* label;
};

const MethodRow kMethods[] = {
    {L"GetInterfaceRevision", L"ПолучитьРевизиюИнтерфейса", 0, "0 GetInterfaceRevision"},
    {L"GetDescription", L"ПолучитьОписание", 1, "1 GetDescription"},
    {L"GetLastError", L"ПолучитьОшибку", 1, "2 GetLastError"},
    {L"GetParameters", L"ПолучитьПараметры", 1, "3 GetParameters"},
    {L"SetParameter", L"УстановитьПараметр", 2, "4 SetParameter"},
    {L"Open", L"Подключить", 1, "5 Open"},
    {L"Close", L"Отключить", 1, "6 Close"},
    {L"DeviceTest", L"ТестУстройства", 2, "7 DeviceTest"},
    {L"GetAdditionalActions", L"ПолучитьДополнительныеДействия", 1, "8 GetAdditionalActions"},
    {L"DoAdditionalAction", L"ВыполнитьДополнительноеДействие", 1, "9 DoAdditionalAction"},
    {L"Calibrate", L"УстановитьВесТары", 2, "10 Calibrate"},
    {L"GetWeight", L"ПолучитьВес", 2, "11 GetWeight"},
};

void SetEmpty(tVariant* v) {
  *v = tVariant{};
  v->vt = VTYPE_EMPTY;
}

void SetInt(tVariant* v, long value) {
  SetEmpty(v);
  v->vt = VTYPE_I4;
  v->lVal = value;
}

void SetText(tVariant* v, wchar_t* text) {
  SetEmpty(v);
  v->vt = VTYPE_PWSTR;
  v->wstrVal.pwstrVal = text;
  v->wstrVal.wstrLen = rt::Length(text);
}

// The component as the platform holds it: one object, three tables.
struct Driver {
  IComponentBase* object;
  MemoryManager* memory;

  ILanguageExtenderBase* language() { return object; }

  // Calls a method by its English name; true when the call went through
  // and the method's result is true. Texts the component returns in
  // params are the host's to free, once the caller has read them.
  bool Call(const wchar_t* name, tVariant* params, long count, tVariant* result) {
    const long method = language()->FindMethod(name);
    SetEmpty(result);
    return CallCallAsFunc(language(), method, result, params, count) && result->vt == VTYPE_BOOL && result->bVal;
  }

  bool SetParameter(const wchar_t* name, tVariant* value) {
    wchar_t nameText[32];
    unsigned i = 0;
    for (; name[i] != 0 && i + 1 < 32; ++i) nameText[i] = name[i];
    nameText[i] = 0;
    tVariant params[2];
    SetText(&params[0], nameText);
    params[1] = *value;
    tVariant result;
    return Call(L"SetParameter", params, 2, &result);
  }

  bool UseTcp(long port) {
    tVariant connect, ip, tcp;
    static wchar_t loopback[] = L"127.0.0.1";
    SetInt(&connect, 1);
    SetText(&ip, loopback);
    SetInt(&tcp, port);
    return SetParameter(L"Prm_Connect", &connect) && SetParameter(L"Prm_IP", &ip) &&
           SetParameter(L"Prm_TcpPort", &tcp);
  }

  // Open: the device identifier (up to 15 units) into id; true when the
  // call gave one.
  bool Open(wchar_t* id) {
    tVariant param, result;
    SetEmpty(&param);
    const bool ok = Call(L"Open", &param, 1, &result) && param.vt == VTYPE_PWSTR;
    id[0] = 0;
    if (ok) {
      unsigned i = 0;
      for (; i < param.wstrVal.wstrLen && i < 15; ++i) id[i] = param.wstrVal.pwstrVal[i];
      id[i] = 0;
    }
    if (param.vt == VTYPE_PWSTR) memory->Release(param.wstrVal.pwstrVal);
    return ok;
  }

  bool Weight(wchar_t* id, double* weight) {
    tVariant params[2], result;
    SetText(&params[0], id);
    SetEmpty(&params[1]);
    const bool ok = Call(L"GetWeight", params, 2, &result) && params[1].vt == VTYPE_R8;
    if (ok) *weight = params[1].dblVal;
    return ok;
  }

  // GetLastError: the driver error number; whether the message contains part.
  long LastError(const wchar_t* part, bool* found) {
    tVariant param, result;
    SetEmpty(&param);
    language()->CallAsFunc(language()->FindMethod(L"GetLastError"), &result, &param, 1);
    *found = param.vt == VTYPE_PWSTR && rt::Contains(param.wstrVal.pwstrVal, part);
    if (param.vt == VTYPE_PWSTR) memory->Release(param.wstrVal.pwstrVal);
    return result.vt == VTYPE_I4 ? result.lVal : -1;
  }

  bool Close(wchar_t* id) {
    tVariant param, result;
    SetText(&param, id);
    return Call(L"Close", &param, 1, &result);
  }
};

void CheckRegistry(Driver& d) {
  ILanguageExtenderBase* language = d.language();
  Check(language->GetNMethods() == 12, "GetNMethods is 12");
  for (long i = 0; i < 12; ++i) {
    const MethodRow& m = kMethods[i];
    const bool found = language->FindMethod(m.english) == i && language->FindMethod(m.russian) == i;
    Check(found && language->GetNParams(i) == m.params && language->HasRetVal(i),
          "FindMethod (English and Russian), GetNParams and HasRetVal of method ", m.label);
  }
}

void CheckDescriptionAndParameters(Driver& d) {
  tVariant param, result;
  SetEmpty(&param);
  const bool described = d.Call(L"GetDescription", &param, 1, &result) && param.vt == VTYPE_PWSTR &&
                         rt::Contains(param.wstrVal.pwstrVal, L"DriverVersion=\"");
  if (param.vt == VTYPE_PWSTR) d.memory->Release(param.wstrVal.pwstrVal);
  Check(described, "GetDescription returns the description document");
  tVariant unit;
  SetInt(&unit, 0);
  Check(d.SetParameter(L"Prm_Unit", &unit), "SetParameter Prm_Unit 0");
}

void CheckWeights(Driver& d) {
  Sim stream(L"--mode stream --weight 12.345 --unit kg");
  Sim request(L"--mode request --weight 1500 --unit g");
  Check(stream.port() > 0 && request.port() > 0, "scale-sim.exe started twice");
  wchar_t streamId[16], requestId[16];
  Check(d.UseTcp(stream.port()) && d.Open(streamId), "SetParameter (TCP) and Open on the streaming scale");
  Check(d.UseTcp(request.port()) && d.Open(requestId), "SetParameter (TCP) and Open on the request-answering scale");
  double weight = 0;
  const bool streamed = d.Weight(streamId, &weight) && weight > 12.3449 && weight < 12.3451;
  rt::Print("   streaming scale: ");
  rt::PrintFixed(weight, 3);
  rt::Print("\n");
  Check(streamed, "GetWeight from the streaming scale is 12.345");
  weight = 0;
  const bool requested = d.Weight(requestId, &weight) && weight > 1499.999 && weight < 1500.001;
  rt::Print("   request-answering scale: ");
  rt::PrintFixed(weight, 3);
  rt::Print("\n");
  Check(requested, "GetWeight from the request-answering scale is 1500");
  Check(d.Close(streamId) && d.Close(requestId), "Close both devices");

  Sim gone(L"--mode stream");
  const long port = gone.port();
  gone.Stop();
  wchar_t refusedId[16];
  d.UseTcp(port);
  d.Open(refusedId);
  bool message = false;
  const long code = d.LastError(L"TCP", &message);
  Check(code == 105 && message, "GetLastError after a refused connection is 105 with its message");
  d.Close(refusedId);
}

// A component created, initialised and checked through all three tables.
void CheckComponent(GetClassObjectFn getClassObject, DestroyObjectFn destroyObject, const wchar_t* className) {
  IComponentBase* object = nullptr;
  Check(getClassObject(className, &object) != 0 && object != nullptr, "GetClassObject creates the component");
  if (object == nullptr) return;
  MemoryManager memory;
  Connection connection;
  Check(CallInit(object, &connection), "Init with the host's connection");
  Check(connection.profiles == 1 && connection.profileNamed && connection.unexpected == 0,
        "the connection was called once, through RegisterProfileAs, with the class name");
  Check(CallSetMemManager(object, &memory), "setMemManager with the host's memory manager");
  Check(CallGetInfo(object) == 3003, "GetInfo is 3003");
  CallSetLocale(object, L"C");

  Driver d{object, &memory};
  text16* name = nullptr;
  const int before = memory.allocations;
  Check(CallRegisterExtensionAs(d.language(), &name) && name != nullptr && rt::Equal(name, L"Vestra_Scale_nLP") &&
            memory.allocations == before + 1,
        "RegisterExtensionAs names the class, in memory from AllocMemory");
  memory.Release(name);
  CheckRegistry(d);
  CheckDescriptionAndParameters(d);
  CheckWeights(d);
  Check(memory.unexpected == 0 && connection.unexpected == 0,
        "the memory manager and the connection saw only the calls the interface allows");

  object->Done();
  DeleteComponent(object);  // the platform's way: the virtual destructor frees the object
  Check(rt::HeapsValid(), "delete through the virtual destructor leaves every heap of the process valid");

  IComponentBase* second = nullptr;
  getClassObject(className, &second);
  Check(second != nullptr && second->Init(&connection) && destroyObject(&second) == 0 && second == nullptr,
        "DestroyObject ends a second component and clears the pointer");
}

}  // namespace

extern "C" int HostMain() {
  void* library = LoadLibraryW(L"Pesolan.dll");
  Check(library != nullptr, "LoadLibraryW Pesolan.dll");
  if (library != nullptr) {
    auto getClassNames = reinterpret_cast<GetClassNamesFn>(GetProcAddress(library, "GetClassNames"));
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(library, "GetClassObject"));
    auto destroyObject = reinterpret_cast<DestroyObjectFn>(GetProcAddress(library, "DestroyObject"));
    auto capabilities = reinterpret_cast<SetPlatformCapabilitiesFn>(GetProcAddress(library, "SetPlatformCapabilities"));
    Check(getClassNames && getClassObject && destroyObject && capabilities, "the four exports are there");
    if (getClassNames && getClassObject && destroyObject && capabilities) {
      const text16* names = getClassNames();
      Check(names != nullptr && rt::Equal(names, L"Vestra_Scale_nLP"), "GetClassNames is Vestra_Scale_nLP");
      Check(capabilities(1) == 1, "SetPlatformCapabilities answers level 1");
      CheckComponent(getClassObject, destroyObject, names);
    }
    FreeLibrary(library);
  }
  rt::PrintInt(g_passed);
  rt::Print(" passed, ");
  rt::PrintInt(g_failed);
  rt::Print(" failed\n");
  ExitProcess(g_failed == 0 ? 0 : 1);
  return 0;
}
