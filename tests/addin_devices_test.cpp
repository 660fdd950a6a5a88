// Opening and closing devices, the device test report and the refused tare,
// through the loaded library against scale-sim over loopback TCP.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#if defined(_WIN32)
#include "platform/owner_only_windows.h"
#endif

#include "support/addin_fixture.h"
#include "support/sim_process.h"
#include "support/text.h"
#include "support/messages.h"

using namespace testing_support;

namespace {

class Devices : public AddInTest {
 protected:
  void SetUp() override {
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp"});
    ASSERT_TRUE(sim->ok());
    addin.UseTcp(sim->port(), 3);
  }
  std::u16string Test(std::u16string* second = nullptr) {
    const CallResult r = addin.Call(u"DeviceTest", {Arg::Empty(), Arg::Empty()});
    EXPECT_TRUE(r.status);
    lastTestOk = r.ok();
    if (second != nullptr) *second = r.args[1].vt == host::VT_PWSTR ? r.argTexts[1] : u"<untouched>";
    return r.argTexts[0];
  }
  std::unique_ptr<SimProcess> sim;
  bool lastTestOk = false;
};

TEST_F(Devices, EightDevicesOpenAndANinthIsRefused) {
  for (int i = 1; i <= 8; ++i) EXPECT_EQ(addin.Open(), std::u16string(1, static_cast<char16_t>(u'0' + i)));
  const CallResult ninth = addin.Call(u"Open", {Arg::Empty()});
  EXPECT_TRUE(ninth.status);
  EXPECT_FALSE(ninth.ok());
  EXPECT_EQ(ninth.args[0].vt, host::VT_EMPTY);
  EXPECT_EQ(addin.LastError(), 0) << "a full table is no device error";
}

#if defined(_WIN32)
// The trace holds the scale's dialogue: on Windows, as on POSIX systems, a
// new trace file is created for its creator alone, whatever its folder
// allows. (Wine keeps no file DACLs, so the descriptor the library creates
// the file with is what is checked here.)
TEST(TraceFileSecurity, ANewTraceFileIsCreatedForItsCreatorAlone) {
  os::OwnerOnly owner;
  ASSERT_NE(owner.get(), nullptr);
  BOOL present = FALSE, defaulted = FALSE;
  ACL* dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(owner.get()->lpSecurityDescriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr);
  ASSERT_EQ(dacl->AceCount, 1) << "one entry";
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(8) unsigned char user[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
  CloseHandle(token);
  EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&allowed->SidStart), reinterpret_cast<TOKEN_USER*>(user)->User.Sid))
      << "for the user the library runs as";
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(owner.get()->lpSecurityDescriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "nothing inherited from the folder";
}
#endif

TEST_F(Devices, FreedNumbersAreReusedLowestFirst) {
  addin.Open();
  addin.Open();
  addin.Open();
  EXPECT_TRUE(addin.Close(u"2"));
  EXPECT_EQ(addin.Open(), u"2");
  EXPECT_EQ(addin.Open(), u"4");
}

TEST_F(Devices, CloseTakesAtLeast256MsAndOnlyClosesOpenDevices) {
  const std::u16string id = addin.Open();
  Stopwatch watch;
  EXPECT_TRUE(addin.Close(id));
  EXPECT_GE(watch.ms(), 256 - kTickSlack);
  EXPECT_FALSE(addin.Close(id)) << "already closed";
  // (That these end without the pause is checked in virtual time.)
  for (const char16_t* none : {u"0", u"", u"abc", u"9", u"-1", u"99999999999"}) EXPECT_FALSE(addin.Close(none));
  EXPECT_FALSE(addin.Call(u"Close", {Arg::Int(1)}).status) << "an identifier must be text";
}

TEST_F(Devices, IdentifierEndsAtTheFirstNonDigit) {
  addin.Open();
  addin.Open();
  EXPECT_TRUE(addin.Close(u"2 "));
  addin.Open();
  EXPECT_TRUE(addin.Close(u" 2x"));
  addin.Open();
  EXPECT_FALSE(addin.Close(std::u16string(u"2") + std::u16string(23, u' '))) << "over 23 characters names nothing";
  double weight;
  EXPECT_FALSE(addin.Weight(u"1" + std::u16string(15, u' '), &weight)) << "over 15 characters names nothing";
  EXPECT_TRUE(addin.Weight(u"1" + std::u16string(14, u' '), &weight));
}

TEST_F(Devices, DeviceTestReportsTheWeightWithItsUnit) {
  const std::u16string id = addin.Open();
  std::u16string second;
  EXPECT_EQ(Test(&second), u"Вес равен 12.345 кг.");
  EXPECT_TRUE(lastTestOk);
  EXPECT_EQ(second, u"");
  double weight;
  EXPECT_TRUE(addin.Weight(id, &weight)) << "the tested device stays open";
}

TEST_F(Devices, DeviceTestAsOnTheScaleNamesTheScalesUnit) {
  SimProcess grams({"--tcp", "--weight", "250.5", "--unit", "g"});
  AddIn other(library, kHostCommaLocale);
  other.UseTcp(grams.port(), 0);
  const CallResult r = other.Call(u"DeviceTest", {Arg::Empty(), Arg::Empty()});
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.argTexts[0], u"Вес равен 250,5 г.") << "the locale's decimal comma, the scale's own unit";
}

TEST_F(Devices, DeviceTestAfterACloseUsesATemporaryDevice) {
  addin.Open();
  addin.Open();
  addin.Close(u"1");
  EXPECT_EQ(Test(), u"Вес равен 12.345 кг.");
  EXPECT_TRUE(lastTestOk);
  EXPECT_EQ(addin.Open(), u"1") << "the temporary device was closed again";
  EXPECT_EQ(addin.Open(), u"3");
}

TEST_F(Devices, DeviceTestOfASilentScaleGivesCode106AndTheHint) {
  SimProcess silent({"--tcp", "--mode", "silent"});
  addin.UseTcp(silent.port());
  std::u16string second;
  EXPECT_EQ(Test(&second), u"Ошибка: 106 " + Message16(106) + u"; Проверьте подключение весов и их настройки.");
  EXPECT_FALSE(lastTestOk);
  EXPECT_EQ(second, u"");
  std::u16string message;
  EXPECT_EQ(addin.LastError(&message), 106);
  EXPECT_EQ(message, Message16(106));
}

TEST_F(Devices, OpenOfAnUnreachableScaleStillGivesAnIdentifierAndCode105) {
  const ClosedTcpPort closed;
  addin.UseTcp(closed.port());
  const std::u16string id = addin.Open();
  EXPECT_EQ(id, u"1");
  std::u16string message;
  EXPECT_EQ(addin.LastError(&message), 105);
  EXPECT_EQ(message, Message16(105));
  Stopwatch watch;
  EXPECT_TRUE(addin.Close(id));
  EXPECT_GE(watch.ms(), 256 + 640 - kTickSlack) << "the slot never became ready";
}

TEST_F(Devices, CalibrateIsRefusedWithCode109AndChangesNothingAfterAnError) {
  const std::u16string id = addin.Open();
  const CallResult r = addin.Call(u"Calibrate", {Arg::Text(id), Arg::Double(1.0)});
  EXPECT_TRUE(r.status);
  EXPECT_FALSE(r.ok());
  std::u16string message;
  EXPECT_EQ(addin.LastError(&message), 109);
  EXPECT_EQ(message, Message16(109));
  EXPECT_EQ(addin.LastError(), 109) << "reading the error does not clear it";

  EXPECT_FALSE(addin.Call(u"Calibrate", {Arg::Text(id), Arg::Empty()}).ok());
  EXPECT_FALSE(addin.Call(u"Calibrate", {Arg::Text(u"5"), Arg::Empty()}).ok());
  EXPECT_FALSE(addin.Call(u"Calibrate", {Arg::Int(1), Arg::Empty()}).status);
  EXPECT_FALSE(addin.Call(u"DoAdditionalAction", {Arg::Text(u"x")}).ok());
}

TEST_F(Devices, PendingCode109WinsOverLaterFailures) {
  const std::u16string id = addin.Open();
  addin.Call(u"Calibrate", {Arg::Text(id), Arg::Empty()});
  double weight = 0;
  EXPECT_TRUE(addin.Weight(id, &weight)) << "a stable reading still succeeds";
  EXPECT_EQ(addin.LastError(), 109) << "code 9 is not cleared by readings";
  EXPECT_EQ(Test(), u"Вес равен 12.345 кг.");
}

}  // namespace
