#include "session.h"

#include <charconv>
#include <cstdio>

#include "ports.h"
#include "say.h"
#include "utf.h"

namespace host {
namespace {

const char* const kUnitSymbols[] = {"", "mg", "g", "kg", "t"};

}  // namespace

Channel ChannelOf(const Options& o) {
  Channel c;
  c.tcp = o.tcpChannel();
  if (c.tcp) {
    c.host = o.tcp[0].host;
    c.port = o.tcp[0].port;
  }
  c.com = o.com;
  c.attrs = o.attrs;
  return c;
}

std::string Number(double value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  return std::string(text, end.ptr);
}

std::string JsonText(const std::string& utf8) { return JsonString(Utf16(utf8)); }

Session::Session(Library& lib, const Options& o)
    : o_(o), tap_(o.trace), component_(lib, &memory_, &connection_, Utf16(o.locale)) {}

CallResult Session::Call(const std::u16string& method, std::vector<Arg> args) {
  tap_.Mark();
  CallResult r = component_.Call(method, std::move(args));
  tap_.Mark();
  return r;
}

std::string Session::Configure(const Channel& c, bool anyStability) {
  tcp_ = c.tcp;
  std::vector<std::pair<std::u16string, Arg>> params = {
      {u"Prm_Connect", Arg::Int(c.tcp ? 1 : 0)},
      {u"Prm_Unit", Arg::Int(o_.unit)},
      {u"Prm_NoStable", Arg::Int(o_.allowUnstable || anyStability ? 1 : 0)},
  };
  if (c.tcp) {
    params.push_back({u"Prm_IP", Arg::Text(Utf16(c.host))});
    params.push_back({u"Prm_TcpPort", Arg::Int(c.port)});
  } else {
    params.push_back({u"Prm_RsPort", Arg::Int(c.com)});
    params.push_back({u"Prm_ConnAttrs", Arg::Int(c.attrs)});
  }
  for (auto& p : params) {
    if (Call(u"SetParameter", {Arg::Text(p.first), p.second}).ok()) continue;
    if (p.first == u"Prm_IP") {
      return "--tcp '" + c.host + "': the driver takes a host of at most 15 characters (an IPv4 address)";
    }
    return "the driver refused " + Utf8(p.first);
  }
  return "";
}

Cause Session::CauseOf(int code) {
  const std::vector<std::string> trace = tap_.LastCall();
  const int held = HeldPort(trace);
  Context c;
  c.tcp = tcp_;
  c.traced = o_.trace;
  c.hadWeights = weighed_;
  if (held > 0) c.held = LookAtPort(held).detail;
  return Explain(code, trace, c);
}

// The trace is read only when the options leave the unit or the stability
// open: the unit as on the scale, or unstable weights allowed.
void Session::Describe(std::string* symbol, bool* stable) {
  const bool known = o_.unit >= 1 && o_.unit <= 4;
  const ParsedLine line = known && !o_.allowUnstable ? ParsedLine{} : LastParsed(tap_.LastCall());
  *symbol = known ? kUnitSymbols[o_.unit] : line.unit;
  *stable = !line.found || line.stable;
}

int Session::LastError(std::u16string* message) {
  const CallResult r = Call(u"GetLastError", {Arg::Empty()});
  *message = r.argTexts.empty() ? std::u16string() : r.argTexts[0];
  return r.result.vt == host::VT_I4 ? r.result.lVal : 0;
}

bool Session::ChannelClosed() { return host::ChannelClosed(tap_.LastCall()); }

Session::Failure Session::LastFailure() {
  Failure f{0, u"", {}};
  f.code = LastError(&f.message);
  f.cause = CauseOf(f.code);
  return f;
}

int Session::Report(const Failure& f, const std::string& jsonExtra) {
  if (o_.json) {
    std::printf("%s%s%s}\n", JsonOpen(false).c_str(),
                FailureFields(f.code, Utf8(f.message), f.cause.why, f.cause.next).c_str(), jsonExtra.c_str());
  } else {
    std::fprintf(stderr, "error %d: %s\n", f.code, Utf8(f.message).c_str());
    if (!f.cause.why.empty()) std::fprintf(stderr, "cause: %s\n", f.cause.why.c_str());
    std::fprintf(stderr, "next: %s\n", f.cause.next.c_str());
  }
  return 1;
}

}  // namespace host
