// The component as a host might misuse it: any method number, argument
// types, lengths and texts (unterminated, overlong, lone surrogates), with or
// without a memory manager, one that refuses, and names and locales of any
// kind. Nothing may crash, read past what the host gave, or hand back a text
// that is not a block of the host's memory.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "addin/host_api.h"

extern "C" long GetClassObject(const text16*, IComponentBase**);
extern "C" long DestroyObject(IComponentBase**);

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return size_ == 0; }
  uint8_t Byte() { return size_ > 0 ? (--size_, *data_++) : 0; }
  template <typename T>
  T Value() {
    T v{};
    uint8_t bytes[sizeof(T)] = {};
    for (auto& b : bytes) b = Byte();
    std::memcpy(&v, bytes, sizeof v);
    return v;
  }
  // Exactly the units the host claims to give, unterminated unless the data
  // says so.
  std::vector<text16> Text() {
    std::vector<text16> text(Byte() % 48);
    for (auto& u : text) u = Value<text16>();
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

class Memory final : public IMemoryManager {
 public:
#if PESOLAN_MSVC_TABLES
  void MsvcDeletingDestructor(unsigned) override {}
#endif
  bool ADDIN_API AllocMemory(void** block, unsigned long bytes) override {
    if (refusing) return false;
    *block = std::malloc(bytes);
    blocks.insert(*block);
    return true;
  }
  void ADDIN_API FreeMemory(void** block) override {
    if (blocks.erase(*block) == 0) std::abort();  // not a block of ours
    std::free(*block);
  }
  // Frees a text the component handed back; aborts if it is not ours.
  void Take(const text16* text) {
    void* block = const_cast<text16*>(text);
    if (text != nullptr) FreeMemory(&block);
  }
  ~Memory() {
    for (void* b : blocks) std::free(b);
  }
  bool refusing = false;
  std::set<void*> blocks;
};

const uint16_t kTypes[] = {0, 2, 3, 4, 5, 6, 7, 8, 10, 11, 13, 14, 15, 16, 17, 18, 19, 20, 22, 23, 22, 22, 3};

void CallOnce(Input& in, IComponentBase* c, Memory& memory) {
  const long method = (in.Byte() & 0x80) ? static_cast<long>(in.Value<int32_t>()) : static_cast<long>(in.Byte() % 15) - 1;
  const long count = in.Byte() % 4;
  std::vector<std::vector<text16>> texts(static_cast<size_t>(count));
  std::vector<tVariant> args(static_cast<size_t>(count));
  for (long i = 0; i < count; ++i) {
    tVariant& v = args[static_cast<size_t>(i)];
    std::memset(&v, 0, sizeof v);
    v.vt = kTypes[in.Byte() % (sizeof kTypes / sizeof kTypes[0])];
    if (v.vt == VTYPE_PWSTR) {
      texts[static_cast<size_t>(i)] = in.Text();
      auto& t = texts[static_cast<size_t>(i)];
      v.pwstrVal = t.empty() && (in.Byte() & 1) ? nullptr : t.data();
      v.wstrLen = static_cast<uint32_t>(t.size());
    } else {
      v.ullVal = in.Value<uint64_t>();
    }
  }
  tVariant result;
  std::memset(&result, 0, sizeof result);
  c->CallAsFunc(method, &result, args.empty() ? nullptr : args.data(), count);
  if (result.vt == VTYPE_PWSTR) memory.Take(result.pwstrVal);
  for (long i = 0; i < count; ++i) {
    const tVariant& v = args[static_cast<size_t>(i)];
    if (v.vt == VTYPE_PWSTR && v.pwstrVal != texts[static_cast<size_t>(i)].data() && v.pwstrVal != nullptr) {
      memory.Take(v.pwstrVal);
    }
  }
}

void Registry(Input& in, IComponentBase* c, Memory& memory) {
  std::vector<text16> name = in.Text();
  name.push_back(0);  // names arrive zero-terminated
  c->FindMethod(name.data());
  c->FindProp(name.data());
  const long num = static_cast<int8_t>(in.Byte());
  const long lang = static_cast<int8_t>(in.Byte());
  memory.Take(c->GetMethodName(num, lang));
  memory.Take(c->GetPropName(num, lang));
  c->GetNParams(num);
  tVariant v;
  std::memset(&v, 0, sizeof v);
  c->GetParamDefValue(num, lang, &v);
  c->SetPropVal(num, &v);
  c->GetPropVal(num, &v);
  if (in.Byte() == 0x5A) c->SetLocale(name.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint8_t flags = in.Byte();
  Memory memory;
  IComponentBase* c = nullptr;
  if (GetClassObject(u"Vestra_Scale_nLP", &c) == 0 || c == nullptr) std::abort();
  if (flags & 1) c->setMemManager(&memory);
  memory.refusing = (flags & 2) != 0;
  text16* extension = nullptr;
  if (c->RegisterExtensionAs(&extension)) memory.Take(extension);
  while (!in.empty()) {
    if (in.Byte() & 1) {
      CallOnce(in, c, memory);
    } else {
      Registry(in, c, memory);
    }
  }
  DestroyObject(&c);
  return 0;
}
