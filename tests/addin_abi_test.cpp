// The component's interface tables checked against the platform's binary
// facts with raw tables, independent of any declaration: which slot holds
// which operation, and which slot of the host's memory manager and
// connection the component calls. Microsoft's compiler (the Windows
// platform) gives a destructor one slot, GCC (the Linux platform) two.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/addin_fixture.h"

using namespace testing_support;

namespace {

#if defined(_WIN32)
constexpr int kDestructorSlots = 1;
#define RAW_CALL __stdcall
#else
constexpr int kDestructorSlots = 2;
#define RAW_CALL
#endif

constexpr int kGetInfoSlot = kDestructorSlots + 2;     // Init, setMemManager, GetInfo
constexpr int kCallAsFuncSlot = kDestructorSlots + 15;  // the last of ILanguageExtenderBase
constexpr int kGetMethodNameSlot = kDestructorSlots + 10;
constexpr int kSetLocaleSlot = kDestructorSlots;

using Fn = void (*)();

// A host object made of a bare table: every slot records that it was called.
struct RawObject {
  const Fn* table;
  int calls[16];
};

// Any other slot of the memory manager: counted as a wrong call.
int RAW_CALL WrongSlot(RawObject* self) {
  ++self->calls[0];
  return 0;
}

bool RAW_CALL Allocate(RawObject* self, void** block, unsigned long bytes) {
  ++self->calls[kDestructorSlots];
  *block = std::malloc(bytes);
  return true;
}

// The connection's slots count their calls.
int g_connectionCalls[12];
template <int N>
bool RAW_CALL CountCall(void*) {
  ++g_connectionCalls[N];
  return true;
}
template <int N>
const Fn ConnectionSlot = reinterpret_cast<Fn>(&CountCall<N>);

void** TableOf(void* object) { return *static_cast<void***>(object); }

class RawAbi : public AddInTest {
 protected:
  void* InitDone() { return static_cast<host::InitDone*>(*addin.component.objectSlot()); }
  void* Extender() { return static_cast<host::LanguageExtender*>(*addin.component.objectSlot()); }
  void* Locale() { return static_cast<host::Locale*>(*addin.component.objectSlot()); }
};

TEST_F(RawAbi, InterfacePointersSitSideBySide) {
  host::ComponentBase* object = *addin.component.objectSlot();
  ASSERT_NE(object, nullptr);
  char* base = reinterpret_cast<char*>(object);
  EXPECT_EQ(InitDone(), base);
  EXPECT_EQ(Extender(), base + sizeof(void*));
  EXPECT_EQ(Locale(), base + 2 * sizeof(void*));
}

TEST_F(RawAbi, GetInfoAndCallAsFuncStandInTheirSlots) {
  using GetInfoFn = long(RAW_CALL*)(void*);
  const auto getInfo = reinterpret_cast<GetInfoFn>(TableOf(InitDone())[kGetInfoSlot]);
  EXPECT_EQ(getInfo(InitDone()), 3003);

  using CallFn = bool(RAW_CALL*)(void*, long, host::Variant*, host::Variant*, long);
  const auto call = reinterpret_cast<CallFn>(TableOf(Extender())[kCallAsFuncSlot]);
  host::Variant result{};
  EXPECT_TRUE(call(Extender(), 0, &result, nullptr, 0));
  EXPECT_EQ(result.vt, host::VT_I4);
  EXPECT_EQ(result.lVal, 3003);
}

TEST_F(RawAbi, TextsAreAllocatedThroughTheFirstSlotAfterTheDestructor) {
  Fn slots[8];
  for (int i = 0; i < 8; ++i) slots[i] = reinterpret_cast<Fn>(&WrongSlot);
  slots[kDestructorSlots] = reinterpret_cast<Fn>(&Allocate);
  RawObject memory{slots, {}};
  using SetMemFn = bool(RAW_CALL*)(void*, void*);
  const auto setMem = reinterpret_cast<SetMemFn>(TableOf(InitDone())[kDestructorSlots + 1]);
  ASSERT_TRUE(setMem(InitDone(), &memory));

  using NameFn = const char16_t*(RAW_CALL*)(void*, long, long);
  const auto name = reinterpret_cast<NameFn>(TableOf(Extender())[kGetMethodNameSlot]);
  const char16_t* text = name(Extender(), 11, 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"GetWeight");
  EXPECT_EQ(memory.calls[kDestructorSlots], 1);
  EXPECT_EQ(memory.calls[0], 0) << "no other slot was called";
  std::free(const_cast<char16_t*>(text));
  setMem(InitDone(), &addin.memory);
}

TEST_F(RawAbi, ProfileIsRegisteredThroughTheFourthSlotAfterTheDestructor) {
  const Fn slots[] = {ConnectionSlot<0>, ConnectionSlot<1>, ConnectionSlot<2>, ConnectionSlot<3>,
                      ConnectionSlot<4>, ConnectionSlot<5>, ConnectionSlot<6>, ConnectionSlot<7>,
                      ConnectionSlot<8>, ConnectionSlot<9>, ConnectionSlot<10>, ConnectionSlot<11>};
  RawObject connection{slots, {}};
  using InitFn = bool(RAW_CALL*)(void*, void*);
  const auto init = reinterpret_cast<InitFn>(TableOf(InitDone())[kDestructorSlots]);
  EXPECT_TRUE(init(InitDone(), &connection));
  for (int i = 0; i < 12; ++i) EXPECT_EQ(g_connectionCalls[i], i == kDestructorSlots + 3 ? 1 : 0) << "slot " << i;
}

// The slot after the destructor's is SetLocale: the process's numbers follow
// the locale handed to it, and back.
TEST_F(RawAbi, TheLocaleTablesFirstOperationSetsTheLocale) {
  using SetLocaleFn = void(RAW_CALL*)(void*, const char16_t*);
  const auto setLocale = reinterpret_cast<SetLocaleFn>(TableOf(Locale())[kSetLocaleSlot]);
  setLocale(Locale(), kHostCommaLocale);
  const std::string comma = std::localeconv()->decimal_point;
  setLocale(Locale(), u"C");
  EXPECT_EQ(comma, ",");
  EXPECT_STREQ(std::localeconv()->decimal_point, ".");
  EXPECT_EQ(addin.component.initDone()->GetInfo(), 3003) << "the object is still whole";
}

}  // namespace
