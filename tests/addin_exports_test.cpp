// The library's exports and the component object's life, through the real
// shared library loaded at run time.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "support/addin_fixture.h"
#include "support/text.h"

using namespace testing_support;
using host::text16;

namespace {

class Exports : public ::testing::Test {
 protected:
  Exports() : library(PESOLAN_LIBRARY_PATH) {}
  host::Library library;
};

TEST_F(Exports, ClassNamesAreOneStableZeroTerminatedText) {
  ASSERT_TRUE(library.ok()) << library.error();
  const text16* names = library.getClassNames();
  EXPECT_EQ(std::u16string(names), u"Vestra_Scale_nLP");
  EXPECT_EQ(library.getClassNames(), names) << "the same pointer every time";
}

TEST_F(Exports, GetClassObjectFillsOnlyAnEmptyPointerWhateverTheName) {
  ASSERT_TRUE(library.ok());
  for (const char16_t* name : {u"Vestra_Scale_nLP", u"", u"Another"}) {
    host::ComponentBase* object = nullptr;
    EXPECT_NE(library.getClassObject(name, &object), 0);
    ASSERT_NE(object, nullptr);
    host::ComponentBase* const kept = object;
    EXPECT_EQ(library.getClassObject(name, &object), 0) << "an occupied pointer is left alone";
    EXPECT_EQ(object, kept);
    EXPECT_EQ(library.destroyObject(&object), 0);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(library.destroyObject(&object), -1) << "a second destroy finds nothing";
  }
}

TEST_F(Exports, PlatformCapabilityIsAlwaysLevelOne) {
  ASSERT_TRUE(library.ok());
  for (int32_t level : {-1, 0, 1, 2, 3}) EXPECT_EQ(library.setPlatformCapabilities(level), 1);
}

#if !defined(_WIN32)
TEST_F(Exports, OnlyTheAddInInterfaceIsVisible) {
  void* self = dlopen(PESOLAN_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(self, nullptr);
  auto* fn = reinterpret_cast<int (*)()>(dlsym(self, "_Z9fnPesolanv"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 0);
  auto* n = static_cast<int*>(dlsym(self, "nPesolan"));
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(*n, 0);
  EXPECT_NE(dlsym(self, "_ZN8CPesolanC1Ev"), nullptr);
  EXPECT_EQ(dlsym(self, "_ZN7pesolan9SlotTableE"), nullptr) << "internals stay hidden";
  EXPECT_EQ(dlsym(self, "_ZN7pesolan14ExchangeWeightERKNS_12DeviceHandleEPNS_13WeightReadingE"), nullptr);
  dlclose(self);
}
#endif

TEST_F(Exports, UnloadingPausesAtLeast128Ms) {
  ASSERT_TRUE(library.ok());
  Stopwatch watch;
  library.Unload();
  EXPECT_GE(watch.ms(), 128 - kTickSlack);
}

TEST_F(Exports, InitRegistersTheProfileOnceAndNeedsAConnection) {
  host::MemoryManager memory;
  host::Connection connection;
  host::Component component(library, &memory, &connection);
  ASSERT_TRUE(component.ok());
  EXPECT_EQ(connection.profileCalls, 1);
  EXPECT_EQ(connection.profile, u"Vestra_Scale_nLP");
  EXPECT_FALSE(component.initDone()->Init(nullptr));
  EXPECT_EQ(connection.profileCalls, 1);
  EXPECT_TRUE(component.initDone()->Init(&connection));
  EXPECT_EQ(connection.profileCalls, 2);
  EXPECT_EQ(component.initDone()->GetInfo(), 3003);
  component.initDone()->Done();
  EXPECT_EQ(component.extensionName, u"Vestra_Scale_nLP");
  EXPECT_NE(component.created(), 0);
}

// The platform may call a component back from inside a call the component
// makes to it: reading its property while the profile is registered, or
// calling it from the allocator that takes a returned text.
TEST_F(Exports, AHostThatCallsBackFromInsideItsOwnCallsIsServed) {
  ASSERT_TRUE(library.ok());
  struct Host {
    host::MemoryManager memory;
    host::Connection connection;
    host::ComponentBase* object = nullptr;
    int served = 0;
    std::u16string extension, method, description;
  };
  // Left alone if the component hangs: the thread that hangs still uses it.
  auto* h = new Host;
  const auto readBack = [h] {
    host::Variant property{}, revision{};
    if (h->object->GetPropVal(0, &property) && property.lVal == -1) ++h->served;
    if (h->object->CallAsFunc(0, &revision, nullptr, 0) && revision.lVal == 3003) ++h->served;
  };
  h->connection.duringRegister = readBack;
  h->memory.duringAlloc = readBack;
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  std::thread([this, h, &finished] {
    library.getClassObject(u"Vestra_Scale_nLP", &h->object);
    h->object->Init(&h->connection);
    h->object->setMemManager(&h->memory);
    text16* name = nullptr;
    if (h->object->RegisterExtensionAs(&name) && name != nullptr) h->extension = name;
    const text16* method = h->object->GetMethodName(11, 1);
    if (method != nullptr) h->method = method;
    host::Variant result{}, document{};
    if (h->object->CallAsFunc(1, &result, &document, 1) && result.bVal) h->description = host::TextOf(document);
    for (const text16* text : {static_cast<const text16*>(name), method, static_cast<const text16*>(document.pwstrVal)}) {
      host::FreeText(&h->memory, text);
    }
    library.destroyObject(&h->object);
    finished.set_value();
  }).detach();
  if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    std::fprintf(stderr, "the component hung: it held its lock while it called the host\n");
    std::_Exit(1);
  }
  EXPECT_EQ(h->connection.profileCalls, 1);
  EXPECT_EQ(h->extension, u"Vestra_Scale_nLP");
  EXPECT_EQ(h->method, u"ПолучитьВес");
  EXPECT_EQ(h->description.rfind(u"<?xml", 0), 0u);
  EXPECT_EQ(h->served, 2 * 4) << "read back during the registration and each of three allocations";
  delete h;
}

TEST_F(Exports, WithoutAMemoryManagerNoTextReachesTheHost) {
  host::MemoryManager memory;
  host::Connection connection;
  host::Component component(library, &memory, &connection);
  ASSERT_TRUE(component.ok());
  EXPECT_FALSE(component.initDone()->setMemManager(nullptr));
  EXPECT_EQ(component.extender()->GetMethodName(0, 0), nullptr);
  text16* name = nullptr;
  EXPECT_FALSE(component.extender()->RegisterExtensionAs(&name));
  EXPECT_EQ(name, nullptr);
  const CallResult r = component.Call(u"GetDescription", {Arg::Empty()});
  EXPECT_TRUE(r.status);
  EXPECT_FALSE(r.ok()) << "a document that cannot be handed over is a failed result";
  EXPECT_EQ(r.args[0].vt, host::VT_EMPTY);
  EXPECT_TRUE(component.initDone()->setMemManager(&memory));
  EXPECT_EQ(memory.LiveBlocks(), 0u);
}

TEST_F(Exports, NewComponentStartsWithPropertyMinusOneAndNoError) {
  AddIn addin(library);
  host::Variant v{};
  ASSERT_TRUE(addin.component.extender()->GetPropVal(0, &v));
  EXPECT_EQ(v.vt, host::VT_I4);
  EXPECT_EQ(v.lVal, -1);
  EXPECT_EQ(addin.LastError(), 0);
}

TEST_F(Exports, SeveralComponentsLiveSideBySide) {
  AddIn a(library), b(library);
  host::Variant five{};
  five.vt = host::VT_I4;
  five.lVal = 5;
  ASSERT_TRUE(a.component.extender()->SetPropVal(0, &five));
  host::Variant v{};
  b.component.extender()->GetPropVal(0, &v);
  EXPECT_EQ(v.lVal, -1) << "each component has its own property";
  a.component.extender()->GetPropVal(0, &v);
  EXPECT_EQ(v.lVal, 5);
}

}  // namespace
