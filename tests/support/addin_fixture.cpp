#include "support/addin_fixture.h"

#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <sys/mount.h>
#endif

namespace testing_support {

#if defined(_WIN32)
// Under Wine the serial ports are Wine's: see WineSerialPort().
bool InPrivateDev() { return false; }
PlacedPty::PlacedPty(const std::string&, int) {}
PlacedPty::~PlacedPty() {}
#else
bool InPrivateDev() { return scale_sim::InPrivateDev(); }

PlacedPty::PlacedPty(const std::string& ptyPath, int comPort)
    : node_("/dev/ttyUSB" + std::to_string(comPort - kPrivateComPort)) {
  ok_ = InPrivateDev() && comPort >= kPrivateComPort && comPort < kPrivateComPort + kPrivateComPorts &&
        mount(ptyPath.c_str(), node_.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

PlacedPty::~PlacedPty() {
  if (ok_) umount2(node_.c_str(), MNT_DETACH);
}
#endif

int WineSerialPort() {
  const char* port = std::getenv("PESOLAN_WINE_COM");
  return port != nullptr ? std::atoi(port) : 0;
}

AddIn::AddIn(host::Library& library, const std::u16string& locale)
    : component(library, &memory, &connection, locale) {}

bool AddIn::Set(const std::u16string& name, const Arg& value) {
  return Call(u"SetParameter", {Arg::Text(name), value}).ok();
}

void AddIn::UseTcp(int port, int unit) {
  EXPECT_TRUE(Set(u"Prm_Connect", Arg::Int(1)));
  EXPECT_TRUE(Set(u"Prm_IP", Arg::Text(u"127.0.0.1")));
  EXPECT_TRUE(Set(u"Prm_TcpPort", Arg::Int(port)));
  EXPECT_TRUE(Set(u"Prm_Unit", Arg::Int(unit)));
}

void AddIn::UseSerial(int port, int unit) {
  EXPECT_TRUE(Set(u"Prm_Connect", Arg::Int(0)));
  EXPECT_TRUE(Set(u"Prm_RsPort", Arg::Int(port)));
  EXPECT_TRUE(Set(u"Prm_Unit", Arg::Int(unit)));
}

std::u16string AddIn::Open() {
  const CallResult r = Call(u"Open", {Arg::Empty()});
  return r.ok() ? r.argTexts[0] : std::u16string();
}

bool AddIn::Weight(const std::u16string& id, double* weight) {
  const CallResult r = Call(u"GetWeight", {Arg::Text(id), Arg::Empty()});
  if (!r.ok()) return false;
  EXPECT_EQ(r.args[1].vt, host::VT_R8);
  *weight = r.args[1].dblVal;
  return true;
}

int AddIn::LastError(std::u16string* message) {
  const CallResult r = Call(u"GetLastError", {Arg::Empty()});
  EXPECT_TRUE(r.status);
  EXPECT_EQ(r.result.vt, host::VT_I4);
  if (message != nullptr) *message = r.argTexts.empty() ? std::u16string() : r.argTexts[0];
  return r.result.lVal;
}

void ExpectEverySlotFree(host::Library& library) {
  SimProcess tcp({"--tcp"});
  std::vector<std::unique_ptr<AddIn>> components;
  for (int c = 0; c < 32; ++c) {
    components.push_back(std::make_unique<AddIn>(library));
    components.back()->UseTcp(tcp.port());
    for (int d = 0; d < 8; ++d) {
      components.back()->Open();
      ASSERT_EQ(components.back()->LastError(), 0) << "slot " << c * 8 + d << " is still taken";
    }
  }
  AddIn extra(library);
  extra.UseTcp(tcp.port());
  extra.Open();
  EXPECT_EQ(extra.LastError(), 101) << "a 257th device has no slot";
}

}  // namespace testing_support
