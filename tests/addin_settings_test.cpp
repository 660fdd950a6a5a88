// The driver's documents and every rule of SetParameter.

#include <gtest/gtest.h>

#include "support/addin_fixture.h"
#include "support/sim_process.h"

using namespace testing_support;

namespace {

class Documents : public AddInTest {
 protected:
  std::u16string Document(const char16_t* method) {
    const CallResult r = addin.Call(method, {Arg::Empty()});
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(r.textsInHostMemory);
    EXPECT_EQ(r.args[0].vt, host::VT_PWSTR);
    return r.argTexts[0];
  }
};

const std::u16string kDeclaration = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

TEST_F(Documents, DescriptionIsTheFixedFourHundredFiveCharacters) {
  const std::u16string d = Document(u"GetDescription");
  EXPECT_EQ(d.size(), 405u);
  EXPECT_EQ(d.substr(0, kDeclaration.size() + 2), kDeclaration + u"\r\n");
  EXPECT_NE(d.find(u"\r\n<DriverDescription\r\n  Name=\"Драйвер весов Vestra без печати.\"\r\n"),
            std::u16string::npos);
  EXPECT_NE(d.find(u"  EquipmentType=\"ЭлектронныеВесы\"\r\n"), std::u16string::npos);
  const std::u16string end = u"  IntegrationComponentVersion=\"2.13\" />\r\n";
  EXPECT_EQ(d.substr(d.size() - end.size()), end);
}

TEST_F(Documents, ActionsDocumentHoldsNoAction) {
  EXPECT_EQ(Document(u"GetAdditionalActions"), kDeclaration + u" <Actions>  </Actions>");
}

TEST_F(Documents, InterfaceRevisionIs3003) {
  const CallResult r = addin.Call(u"GetInterfaceRevision");
  EXPECT_TRUE(r.status);
  EXPECT_EQ(r.result.vt, host::VT_I4);
  EXPECT_EQ(r.result.lVal, 3003);
}

// Head: the declaration up to the ChoiceList start tag of Prm_RsPort.
constexpr size_t kHead = 409, kTail = 1200;
const std::u16string kHeadEnd =
    u"<Parameter Name=\"Prm_RsPort\" Caption=\"Номер порта COM\" TypeValue=\"Number\" DefaultValue=\"0\">      "
    u"<ChoiceList>";

TEST_F(Documents, SettingsWithoutSerialPortsOfferCom0) {
  REQUIRE_PRIVATE_DEV();
  const std::u16string s = Document(u"GetParameters");
  const std::u16string items = u"\r\n<Item Value=\"0\">COM0</Item> ";
  ASSERT_EQ(s.size(), kHead + items.size() + kTail);
  EXPECT_EQ(s.substr(kHead - kHeadEnd.size(), kHeadEnd.size()), kHeadEnd);
  EXPECT_EQ(s.substr(kHead, items.size()), items);
  EXPECT_EQ(s.substr(kHead + items.size(), 19), u"      </ChoiceList>");
  const std::u16string end = u"    </Parameter>  </Page></Settings>";
  EXPECT_EQ(s.substr(s.size() - end.size()), end);
  EXPECT_NE(s.find(u"<Item Value=\"1\"> 9600,Even,7,1</Item>"), std::u16string::npos);
  EXPECT_NE(s.find(u"DefaultValue=\"20304\" />"), std::u16string::npos);
}

TEST_F(Documents, SettingsListThePortsFound) {
  REQUIRE_PRIVATE_DEV();
  SimProcess sim({"--pty"});
  PlacedPty placed(sim.ptyPath());
  ASSERT_TRUE(placed.ok());
  const std::u16string s = Document(u"GetParameters");
  const std::u16string item = u"<Item Value=\"65\">COM65</Item> ";
  ASSERT_EQ(s.size(), kHead + 30 + kTail) << "a two-digit port adds 30 characters";
  EXPECT_EQ(s.substr(kHead, item.size()), item);
}

// Under Wine: the COM ports the test runner gave to scale-sims, whether
// Wine's configuration names them or they are only linked in its folder.
TEST_F(Documents, SettingsListTheLinkedComPorts) {
  const int port = WineSerialPort();
  if (port == 0) GTEST_SKIP() << "only under Wine, with COM ports linked to scale-sims";
  const std::u16string s = Document(u"GetParameters");
  for (int com : {port, port + 1}) {
    const std::string item = "<Item Value=\"" + std::to_string(com) + "\">COM" + std::to_string(com) + "</Item>";
    EXPECT_NE(s.find(std::u16string(item.begin(), item.end())), std::u16string::npos) << item;
  }
}

// ---- SetParameter -----------------------------------------------------------

class SetParameter : public AddInTest {
 protected:
  CallResult Set(const std::u16string& name, const Arg& value) {
    return addin.Call(u"SetParameter", {Arg::Text(name), value});
  }
};

TEST_F(SetParameter, EachParameterTakesItsAcceptedValues) {
  const struct {
    const char16_t* name;
    int32_t value;
    bool stored;
  } cases[] = {
      {u"Prm_Connect", 0, true},    {u"Prm_Connect", 1, true},    {u"Prm_Connect", 2, false},
      {u"Prm_Connect", -1, false},  {u"Prm_ConnAttrs", 0, true},  {u"Prm_ConnAttrs", 1, true},
      {u"Prm_ConnAttrs", 2, false}, {u"Prm_Unit", 0, true},       {u"Prm_Unit", 4, true},
      {u"Prm_Unit", 5, false},      {u"Prm_Unit", -1, false},     {u"Prm_NoStable", 1, true},
      {u"Prm_NoStable", 2, false},  {u"Prm_RsPort", 300, true},   {u"Prm_RsPort", -4, true},
      {u"Prm_TcpPort", 99999999, true}, {u"Prm_Timeout", -1, true},
  };
  for (const auto& c : cases) {
    const CallResult r = Set(c.name, Arg::Int(c.value));
    EXPECT_TRUE(r.status) << "a known name never fails the call";
    EXPECT_EQ(r.result.vt, host::VT_BOOL);
    EXPECT_EQ(r.result.bVal, c.stored) << std::string(c.name, c.name + 12) << " " << c.value;
  }
}

TEST_F(SetParameter, UnknownNamesAndNonTextNamesFailTheCall) {
  EXPECT_FALSE(Set(u"prm_connect", Arg::Int(1)).status);
  EXPECT_FALSE(Set(u"Prm_Connect ", Arg::Int(1)).status);
  EXPECT_FALSE(Set(u"Prm_NoStableXXXXX", Arg::Int(1)).status) << "longer than 15 characters";
  EXPECT_FALSE(Set(u"", Arg::Int(1)).status);
  EXPECT_FALSE(addin.Call(u"SetParameter", {Arg::Int(1), Arg::Int(1)}).status);
  EXPECT_TRUE(Set(u"EquipmentType", Arg::Text(u"ЭлектронныеВесы")).ok());
}

TEST_F(SetParameter, TextParametersNeedTextWithinTheirLimits) {
  EXPECT_FALSE(Set(u"Prm_IP", Arg::Int(1)).status) << "a non-text value fails the call";
  EXPECT_FALSE(Set(u"EquipmentType", Arg::Empty()).status);
  EXPECT_TRUE(Set(u"Prm_IP", Arg::Text(u"192.168.100.100")).ok()) << "15 characters";
  const CallResult tooLong = Set(u"Prm_IP", Arg::Text(u"192.168.100.1000"));
  EXPECT_TRUE(tooLong.status);
  EXPECT_FALSE(tooLong.ok()) << "16 characters are refused";
  EXPECT_TRUE(Set(u"EquipmentType", Arg::Text(std::u16string(23, u'Ж'))).ok());
  EXPECT_FALSE(Set(u"EquipmentType", Arg::Text(std::u16string(24, u'Ж'))).ok());
  EXPECT_FALSE(Set(u"EquipmentType", Arg::Text(std::u16string(5000, u'x'))).ok());
}

TEST_F(SetParameter, WholeNumbersOfOtherTypesCountAndEverythingElseIsRefused) {
  host::Variant i2{};
  i2.vt = host::VT_I2;
  i2.shortVal = 3;
  Arg short3;
  short3.v = i2;
  EXPECT_TRUE(Set(u"Prm_Unit", short3).ok());
  EXPECT_TRUE(Set(u"Prm_NoStable", Arg::Bool(true)).ok());
  EXPECT_TRUE(Set(u"Prm_Unit", Arg::Double(2.0)).ok());
  EXPECT_TRUE(Set(u"Prm_Unit", Arg::Text(u"4")).ok());
  EXPECT_TRUE(Set(u"Prm_TcpPort", Arg::Text(u" 20304 ")).ok());

  EXPECT_FALSE(Set(u"Prm_Unit", Arg::Double(2.5)).ok());
  EXPECT_FALSE(Set(u"Prm_TcpPort", Arg::Double(1e12)).ok()) << "outside int32";
  EXPECT_FALSE(Set(u"Prm_Unit", Arg::Text(u"kg")).ok());
  EXPECT_FALSE(Set(u"Prm_Unit", Arg::Text(u"2.0")).ok());
  EXPECT_FALSE(Set(u"Prm_Unit", Arg::Empty()).ok());
  EXPECT_TRUE(Set(u"Prm_Unit", Arg::Text(u"kg")).status) << "a refused value is a result, not a call failure";
}

TEST_F(SetParameter, ValuesReachTheNextOpenedDevice) {
  SimProcess sim({"--tcp", "--weight", "1.500", "--unit", "kg"});
  addin.UseTcp(sim.port(), 2);
  ASSERT_FALSE(Set(u"Prm_Unit", Arg::Int(5)).ok());
  const std::u16string id = addin.Open();
  double weight = 0;
  ASSERT_TRUE(addin.Weight(id, &weight));
  EXPECT_DOUBLE_EQ(weight, 1500.0) << "a refused unit leaves the gram setting";

  ASSERT_TRUE(Set(u"Prm_Unit", Arg::Int(3)).ok());
  ASSERT_TRUE(addin.Weight(id, &weight));
  EXPECT_DOUBLE_EQ(weight, 1500.0) << "an open device keeps the unit it was opened with";
  const std::u16string second = addin.Open();
  ASSERT_TRUE(addin.Weight(second, &weight));
  EXPECT_DOUBLE_EQ(weight, 1.5);
}

}  // namespace
