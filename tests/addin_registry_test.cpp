// The property and the twelve methods as the host finds and calls them.

#include <gtest/gtest.h>

#include "support/addin_fixture.h"

using namespace testing_support;
using host::text16;

namespace {

const char16_t* const kEnglish[] = {u"GetInterfaceRevision", u"GetDescription", u"GetLastError",
                                    u"GetParameters", u"SetParameter", u"Open", u"Close", u"DeviceTest",
                                    u"GetAdditionalActions", u"DoAdditionalAction", u"Calibrate", u"GetWeight"};
const char16_t* const kRussian[] = {u"ПолучитьРевизиюИнтерфейса", u"ПолучитьОписание", u"ПолучитьОшибку",
                                    u"ПолучитьПараметры", u"УстановитьПараметр", u"Подключить", u"Отключить",
                                    u"ТестУстройства", u"ПолучитьДополнительныеДействия",
                                    u"ВыполнитьДополнительноеДействие", u"УстановитьВесТары", u"ПолучитьВес"};
const long kParams[] = {0, 1, 1, 1, 2, 1, 1, 2, 1, 1, 2, 2};

class Registry : public AddInTest {
 protected:
  host::LanguageExtender* ext() { return addin.component.extender(); }
  // A name the component returned: its text, checked to be a zero-terminated
  // block of the host's memory, then freed.
  std::u16string Returned(const text16* name) {
    if (name == nullptr) return u"<null>";
    EXPECT_TRUE(addin.memory.Owns(name));
    const std::u16string text(name);
    host::FreeText(&addin.memory, name);
    return text;
  }
};

TEST_F(Registry, EveryMethodIsFoundByItsEnglishAndRussianName) {
  ASSERT_EQ(ext()->GetNMethods(), 12);
  for (long i = 0; i < 12; ++i) {
    EXPECT_EQ(ext()->FindMethod(kEnglish[i]), i);
    EXPECT_EQ(ext()->FindMethod(kRussian[i]), i);
    EXPECT_EQ(Returned(ext()->GetMethodName(i, 0)), kEnglish[i]);
    EXPECT_EQ(Returned(ext()->GetMethodName(i, 1)), kRussian[i]);
    EXPECT_EQ(ext()->GetNParams(i), kParams[i]) << kEnglish[i];
    EXPECT_TRUE(ext()->HasRetVal(i));
    EXPECT_FALSE(ext()->CallAsProc(i, nullptr, 0));
  }
  EXPECT_EQ(addin.memory.LiveBlocks(), 0u);
}

TEST_F(Registry, NamesMatchExactlyOrNotAtAll) {
  for (const char16_t* name : {u"getweight", u"GETWEIGHT", u"GetWeight ", u" GetWeight", u"", u"GetWeigh",
                               u"получитьвес"}) {
    EXPECT_EQ(ext()->FindMethod(name), -1);
  }
  EXPECT_EQ(ext()->FindMethod(nullptr), -1);
  EXPECT_EQ(ext()->FindProp(u"Test"), 0);
  EXPECT_EQ(ext()->FindProp(u"Тест"), 0);
  EXPECT_EQ(ext()->FindProp(u"TEST"), -1);
  EXPECT_EQ(ext()->FindProp(u"Tests"), -1);
}

TEST_F(Registry, NumbersAndLanguagesOutsideTheTablesGiveNothing) {
  for (long method : {-2147483647L - 1, -1L, 12L, 13L, 1000L, 2147483647L}) {
    EXPECT_EQ(ext()->GetMethodName(method, 0), nullptr) << method;
    EXPECT_EQ(ext()->GetNParams(method), 0) << method;
    EXPECT_FALSE(ext()->HasRetVal(method)) << method;
  }
  EXPECT_EQ(ext()->GetMethodName(0, 2), nullptr);
  host::Variant v{};
  v.vt = host::VT_I4;
  EXPECT_FALSE(ext()->GetParamDefValue(12, 0, &v));
  EXPECT_EQ(v.vt, host::VT_EMPTY);
  v.vt = host::VT_I4;
  EXPECT_TRUE(ext()->GetParamDefValue(0, 5, &v));
  EXPECT_EQ(v.vt, host::VT_EMPTY);
}

TEST_F(Registry, CallWithAMethodNumberOutsideTheTableTouchesNothing) {
  for (long method : {-2147483647L - 1, -1L, 12L, 13L, 1000L, 2147483647L}) {
    host::Variant result{};
    result.vt = host::VT_I4;
    result.lVal = 77;
    host::Variant arg{};
    EXPECT_FALSE(ext()->CallAsFunc(method, &result, &arg, 1));
    EXPECT_EQ(result.vt, host::VT_I4);
    EXPECT_EQ(result.lVal, 77);
  }
  EXPECT_FALSE(ext()->CallAsFunc(0, nullptr, nullptr, 0)) << "no result variant";
}

TEST_F(Registry, CallWithFewerArgumentsThanTheMethodReadsIsRefused) {
  host::Variant result{};
  EXPECT_FALSE(ext()->CallAsFunc(11, &result, nullptr, 0));
  host::Variant one{};
  EXPECT_FALSE(ext()->CallAsFunc(11, &result, &one, 1));
  EXPECT_EQ(result.vt, host::VT_EMPTY);
  EXPECT_TRUE(ext()->CallAsFunc(0, &result, nullptr, 0)) << "GetInterfaceRevision takes none";
  EXPECT_EQ(result.lVal, 3003);
}

TEST_F(Registry, PropertyTestReadsAndWritesAnInteger) {
  EXPECT_EQ(ext()->GetNProps(), 1);
  EXPECT_EQ(Returned(ext()->GetPropName(0, 0)), u"Test");
  EXPECT_EQ(Returned(ext()->GetPropName(0, 1)), u"Тест");
  EXPECT_EQ(ext()->GetPropName(1, 1), nullptr);
  EXPECT_EQ(ext()->GetPropName(0, 2), nullptr);
  EXPECT_TRUE(ext()->IsPropReadable(0));
  EXPECT_TRUE(ext()->IsPropWritable(0));
  EXPECT_FALSE(ext()->IsPropReadable(1));
  EXPECT_FALSE(ext()->IsPropWritable(-1));

  host::Variant v{};
  v.vt = host::VT_I4;
  v.lVal = 5;
  ASSERT_TRUE(ext()->SetPropVal(0, &v));
  host::Variant read{};
  ASSERT_TRUE(ext()->GetPropVal(0, &read));
  EXPECT_EQ(read.vt, host::VT_I4);
  EXPECT_EQ(read.lVal, 5);

  host::Variant other{};
  other.vt = host::VT_R8;
  EXPECT_TRUE(ext()->SetPropVal(0, &other));
  EXPECT_EQ(other.vt, host::VT_I4) << "the variant's type code is rewritten";
  EXPECT_FALSE(ext()->SetPropVal(1, &v));
  EXPECT_FALSE(ext()->GetPropVal(1, &read));
}

TEST_F(Registry, ExtensionNameIsHandedOverInHostMemory) {
  text16* name = nullptr;
  ASSERT_TRUE(ext()->RegisterExtensionAs(&name));
  EXPECT_EQ(Returned(name), u"Vestra_Scale_nLP");
}

TEST_F(Registry, RefusingMemoryManagerGetsNoTextButNoHarm) {
  addin.memory.refusing = true;
  text16* name = nullptr;
  EXPECT_TRUE(ext()->RegisterExtensionAs(&name)) << "true, although no name could be copied";
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(ext()->GetMethodName(11, 1), nullptr);
  EXPECT_EQ(ext()->GetPropName(0, 1), nullptr);
  const CallResult description = addin.Call(u"GetDescription", {Arg::Empty()});
  EXPECT_TRUE(description.status);
  EXPECT_FALSE(description.ok());
  EXPECT_EQ(description.args[0].vt, host::VT_EMPTY);
  const CallResult revision = addin.Call(u"GetInterfaceRevision");
  EXPECT_EQ(revision.result.lVal, 3003);
}

}  // namespace
