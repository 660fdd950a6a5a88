// Every method with every kind of argument a host could pass, with a memory
// manager, without one, and with one that refuses: clear results, and never a
// crash, a write outside what the host gave, or a text outside host memory.

#include <gtest/gtest.h>

#include "support/addin_fixture.h"
#include "support/sim_process.h"

using namespace testing_support;

namespace {

// Argument kinds, each built afresh for a call.
std::vector<Arg> Kinds() {
  Arg nullText;
  nullText.v.vt = host::VT_PWSTR;
  nullText.v.pwstrVal = nullptr;
  nullText.v.wstrLen = 5;  // a length with no text behind it
  Arg unterminated = Arg::Text(u"12345678901234567890");
  unterminated.v.wstrLen = 3;  // "123": the rest lies beyond the stated length
  Arg surrogate = Arg::Text(std::u16string(1, static_cast<char16_t>(0xD800)) + u"1");
  Arg huge;
  huge.v.vt = host::VT_I8;
  huge.v.llVal = INT64_MAX;
  return {Arg::Empty(), Arg::Int(-7), Arg::Double(1e300), Arg::Bool(true), Arg::Text(u""), Arg::Text(u"1"),
          Arg::Text(u"Prm_Unit"), nullText, unterminated, surrogate, Arg::Text(std::u16string(5000, u'9')), huge};
}

enum class Manager { Present, Absent, Refusing };

class BadInput : public AddInTest, public ::testing::WithParamInterface<Manager> {};

INSTANTIATE_TEST_SUITE_P(Memory, BadInput, ::testing::Values(Manager::Present, Manager::Absent, Manager::Refusing),
                         [](const auto& p) {
                           return p.param == Manager::Present ? "Present"
                                                              : p.param == Manager::Absent ? "Absent" : "Refusing";
                         });

TEST_P(BadInput, EveryMethodWithEveryArgumentKindAnswersPlainly) {
  if (GetParam() == Manager::Absent) addin.component.initDone()->setMemManager(nullptr);
  addin.memory.refusing = GetParam() == Manager::Refusing;
  const ClosedTcpPort closed;
  addin.UseTcp(closed.port());  // devices open quickly and fail to connect
  const std::vector<Arg> kinds = Kinds();
  constexpr long kGetParameters = 3, kClose = 6;
  std::vector<int> answered(12, 0);
  for (long method = 0; method < 12; ++method) {
    if (method == kClose) continue;  // below, so that devices stay open here
    // The settings document lists the machine's serial ports: only in the
    // private /dev, whose serial nodes are the tests' own.
    if (method == kGetParameters && !InPrivateDev()) continue;
    for (const Arg& first : kinds) {
      for (const Arg& second : {Arg::Empty(), Arg::Text(u"2"), Arg::Double(0.5)}) {
        host::Variant result{};
        std::vector<host::Variant> params = {first.v, second.v};
        const bool status = addin.component.extender()->CallAsFunc(method, &result, params.data(), 2);
        if (!status) {
          EXPECT_EQ(result.vt, host::VT_EMPTY) << "a refused call leaves the result alone";
          continue;
        }
        ++answered[static_cast<size_t>(method)];
        EXPECT_TRUE(result.vt == host::VT_BOOL || result.vt == host::VT_I4) << "method " << method;
        for (host::Variant& v : params) {
          const bool handedBack = v.vt == host::VT_PWSTR && v.pwstrVal != nullptr &&
                                  v.pwstrVal != first.v.pwstrVal && v.pwstrVal != second.v.pwstrVal;
          if (handedBack) {
            EXPECT_EQ(GetParam(), Manager::Present) << "a text without a memory manager";
            EXPECT_TRUE(addin.memory.Owns(v.pwstrVal));
            EXPECT_EQ(v.pwstrVal[v.wstrLen], 0);
            host::FreeText(&addin.memory, v.pwstrVal);
          }
        }
      }
    }
  }
  for (long method = 0; method < 12; ++method) {
    if (method == kClose || (method == kGetParameters && !InPrivateDev())) continue;
    EXPECT_GT(answered[static_cast<size_t>(method)], 0) << "method " << method << " answered no call at all";
  }
  EXPECT_EQ(addin.memory.LiveBlocks(), 0u);
  for (const Arg& kind : kinds) addin.Call(u"Close", {kind});
  for (int n = 1; n <= 8; ++n) addin.Close(std::u16string(1, static_cast<char16_t>(u'0' + n)));
}

TEST_F(AddInTest, TextsAreReadOnlyUpToTheirStatedLength) {
  Arg name = Arg::Text(u"Prm_UnitXXXX");
  name.v.wstrLen = 8;  // "Prm_Unit"
  EXPECT_TRUE(addin.Call(u"SetParameter", {name, Arg::Int(2)}).ok());
  Arg value = Arg::Text(u"3 and more");
  value.v.wstrLen = 1;
  EXPECT_TRUE(addin.Call(u"SetParameter", {Arg::Text(u"Prm_Unit"), value}).ok());
}

}  // namespace
