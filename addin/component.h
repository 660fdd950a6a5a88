#pragma once
// The component class the host creates: its three interfaces, the property
// and the call entry into the driver.

#include <mutex>

#include "addin/host_api.h"
#include "driver/driver.h"

namespace addin {

constexpr long kComponentVersion = 3003;

class Vestra_Scale_nLP final : public IComponentBase {
 public:
  Vestra_Scale_nLP() = default;
  // Lets go of the devices still open, so that no port stays locked.
  virtual ~Vestra_Scale_nLP();

#if PESOLAN_MSVC_TABLES
  void MSVC_DTOR_CC MsvcDeletingDestructor(unsigned flags) override;
#endif

  // IInitDoneBase
  bool ADDIN_API Init(void* connection) override;
  bool ADDIN_API setMemManager(void* memoryManager) override;
  long ADDIN_API GetInfo() override;
  void ADDIN_API Done() override;

  // ILanguageExtenderBase
  bool ADDIN_API RegisterExtensionAs(text16** name) override;
  long ADDIN_API GetNProps() override;
  long ADDIN_API FindProp(const text16* name) override;
  const text16* ADDIN_API GetPropName(long num, long lang) override;
  bool ADDIN_API GetPropVal(long num, tVariant* value) override;
  bool ADDIN_API SetPropVal(long num, tVariant* value) override;
  bool ADDIN_API IsPropReadable(long num) override;
  bool ADDIN_API IsPropWritable(long num) override;
  long ADDIN_API GetNMethods() override;
  long ADDIN_API FindMethod(const text16* name) override;
  const text16* ADDIN_API GetMethodName(long num, long lang) override;
  long ADDIN_API GetNParams(long method) override;
  bool ADDIN_API GetParamDefValue(long method, long param, tVariant* value) override;
  bool ADDIN_API HasRetVal(long method) override;
  bool ADDIN_API CallAsProc(long method, tVariant* params, long count) override;
  bool ADDIN_API CallAsFunc(long method, tVariant* result, tVariant* params, long count) override;

  // LocaleBase
  void ADDIN_API SetLocale(const text16* locale) override;

 private:
  // The memory manager as the host last gave it.
  IMemoryManager* Memory();

  // One call at a time: the host may call one component from several
  // threads, and its devices and settings are not to be shared mid-call.
  // It is never held while the component calls the host.
  std::mutex calls_;
  IAddInDefBase* connection_ = nullptr;
  IMemoryManager* memory_ = nullptr;
  pesolan::ScaleDriver driver_;
  int32_t propertyValue_ = -1;
};

// Destroys a component through the table the host uses.
void DestroyComponent(IComponentBase* component);

}  // namespace addin
