#include "caller.h"

#include <string>
#include <thread>

namespace soak {
namespace {

using host::Arg;

#if defined(_WIN32)
constexpr const char16_t* kCommaLocale = u"Russian_Russia.1251";
#else
constexpr const char16_t* kCommaLocale = u"ru_RU.UTF-8";
#endif

// The codes GetLastError may give: none, or 100 plus a code the driver has.
bool Defined(int code) { return code == 0 || (code >= 101 && code <= 110 && code != 107); }

// A parameter value and whether the driver must take it.
struct Setting {
  const char16_t* name;
  Arg value;
  bool valid;
};

}  // namespace

struct Caller::Session {
  Session(host::Library& library, const char16_t* locale) : component(library, &memory, &connection, locale) {}
  host::MemoryManager memory;
  host::Connection connection;
  host::Component component;
};

Caller::Caller(host::Library& library, const std::vector<Scale>& scales, std::vector<int> mine, uint64_t seed)
    : library_(library), scales_(scales), random_(seed) {
  for (const int s : mine) {
    devices_.emplace_back();
    devices_.back().scale = s;
  }
}

Caller::~Caller() = default;

host::CallResult Caller::Timed(Method m, const std::u16string& method, std::vector<Arg> args, std::string* outcome) {
  Call call{m, Now(), 0, ""};
  host::CallResult r = session_->component.Call(method, std::move(args));
  call.end = Now();
  call.outcome = !r.status ? "refused" : r.result.vt == host::VT_BOOL ? (r.result.bVal ? "true" : "false") : "done";
  if (outcome != nullptr) *outcome = call.outcome;
  calls.push_back(call);
  return r;
}

// GetLastError; after a failure its code joins the failed call's outcome.
int Caller::LastError(bool afterFailure) {
  const host::CallResult r = Timed(Method::GetLastError, u"GetLastError", {Arg::Empty()}, nullptr);
  const int code = r.result.vt == host::VT_I4 ? r.result.lVal : -1;
  if (afterFailure && calls.size() >= 2) {
    Call& failed = calls[calls.size() - 2];
    failed.outcome += " " + std::to_string(code);
    failed.undefinedCode = !Defined(code) || code == 0;
  }
  return code;
}

void Caller::NewSession() {
  commaLocale_ = random_() % 2 == 0;
  session_ = std::make_unique<Session>(library_, commaLocale_ ? kCommaLocale : u"C");
  allowUnstable_ = false;
}

void Caller::EndSession() {
  Call call{Method::Destroy, Now(), 0, "done"};
  session_.reset();  // the component lets go of its devices
  call.end = Now();
  calls.push_back(call);
  for (Device& d : devices_) d.id.clear();
}

void Caller::Open(Device& d) {
  const Scale& scale = scales_[static_cast<size_t>(d.scale)];
  d.unit = static_cast<int>(random_() % 5);
  std::vector<std::pair<const char16_t*, Arg>> settings = {{u"Prm_Connect", Arg::Int(scale.com != 0 ? 0 : 1)},
                                                            {u"Prm_Unit", Arg::Int(d.unit)}};
  if (scale.com != 0) {
    settings.push_back({u"Prm_RsPort", Arg::Int(scale.com)});
  } else {
    settings.push_back({u"Prm_IP", Arg::Text(u"127.0.0.1")});
    settings.push_back({u"Prm_TcpPort", Arg::Int(scale.sim->port())});
  }
  for (auto& s : settings) {
    std::string outcome;
    Timed(Method::SetParameter, u"SetParameter", {Arg::Text(s.first), s.second}, &outcome);
    if (outcome != "true") ++unexpected;
  }
  std::string outcome;
  const host::CallResult r = Timed(Method::Open, u"Open", {Arg::Empty()}, &outcome);
  if (outcome != "true" || r.argTexts.empty()) return;
  d.id = r.argTexts[0];
  d.failures = 0;
  if (!Defined(LastError(false))) calls[calls.size() - 2].undefinedCode = true;
}

void Caller::Close(Device& d) {
  if (d.id.empty()) return;
  Timed(Method::Close, u"Close", {Arg::Text(d.id)}, nullptr);
  d.id.clear();
}

void Caller::ReadWeight(Device& d) {
  std::string outcome;
  const host::CallResult r = Timed(Method::GetWeight, u"GetWeight", {Arg::Text(d.id), Arg::Empty()}, &outcome);
  Call& call = calls.back();
  call.scale = d.scale;
  call.unit = d.unit;
  call.allowUnstable = allowUnstable_;
  if (outcome == "true") {
    call.judged = true;
    call.weight = r.args[1].vt == host::VT_R8 ? r.args[1].dblVal : -1e300;
    d.failures = 0;
    return;
  }
  LastError(true);
  // The platform's habit after a run of failures: close and open again.
  if (++d.failures >= 3) {
    Close(d);
    Open(d);
  }
}

void Caller::SetSomething() {
  const bool unstable = random_() % 2 == 0;
  const Setting settings[] = {
      {u"Prm_NoStable", Arg::Int(unstable ? 1 : 0), true},
      {u"Prm_Unit", Arg::Int(static_cast<int32_t>(random_() % 5)), true},
      {u"Prm_Timeout", Arg::Int(static_cast<int32_t>(random_() % 5000)), true},
      {u"EquipmentType", Arg::Text(u"Весы"), true},
      {u"Prm_NoStable", Arg::Int(5), false},
      {u"Prm_Unit", Arg::Int(9), false},
      {u"Prm_Connect", Arg::Int(7), false},
      {u"Prm_IP", Arg::Text(u"192.168.100.100.100"), false},
      {u"Prm_Unit", Arg::Double(2.5), false},
  };
  const Setting& s = settings[random_() % (sizeof settings / sizeof settings[0])];
  std::string outcome;
  Timed(Method::SetParameter, u"SetParameter", {Arg::Text(s.name), s.value}, &outcome);
  if (outcome != (s.valid ? "true" : "false")) ++unexpected;
  if (s.valid && std::u16string(s.name) == u"Prm_NoStable") allowUnstable_ = unstable;
}

Caller::Device& Caller::AnyDevice() { return devices_[random_() % devices_.size()]; }

void Caller::Run(Clock::time_point until) {
  NewSession();
  for (Device& d : devices_) Open(d);
  while (Clock::now() < until) {
    const unsigned roll = static_cast<unsigned>(random_() % 100);
    Device& d = AnyDevice();
    if (d.id.empty()) {
      Open(d);
    } else if (roll < 60) {
      ReadWeight(d);
    } else if (roll < 64) {
      Timed(Method::DeviceTest, u"DeviceTest", {Arg::Empty(), Arg::Empty()}, nullptr);
    } else if (roll < 67) {
      Timed(Method::GetParameters, u"GetParameters", {Arg::Empty()}, nullptr);
    } else if (roll < 76) {
      SetSomething();
    } else if (roll < 81) {
      if (!Defined(LastError(false))) ++unexpected;
    } else if (roll < 88) {
      Close(d);
      Open(d);
    } else if (roll < 90) {
      EndSession();
      NewSession();
    } else if (roll < 94) {
      commaLocale_ = !commaLocale_;
      session_->component.locale()->SetLocale(commaLocale_ ? kCommaLocale : u"C");
    } else if (roll < 96) {
      // A form left open: the devices' scales go on sending, nobody reads
      // for seconds, then the next reading comes.
      std::this_thread::sleep_for(std::chrono::milliseconds(1000 + random_() % 3000));
      ReadWeight(d);
    } else {
      ReadWeight(d);
    }
  }
  for (Device& d : devices_) Close(d);
  EndSession();
}

}  // namespace soak
