#include "find.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "find_listen.h"
#include "line_pace.h"
#include "platform/os.h"
#include "ports.h"
#include "say.h"
#include "utf.h"
#include "words.h"

namespace host {
namespace {

const char* const kSettingNames[2] = {"9600 8N1", "9600 7E1"};

// A scale's weight as find found it, by listening or through the driver.
struct Reading {
  std::string way;  // "stream", "ENQ, then DC1", "ENQ DC1 together"
  double weight = 0;
  std::string unit;  // empty when the scale named none
  bool stable = true;
};

std::string ReadingText(const Reading& r) {
  return Number(r.weight) + (r.unit.empty() ? "" : " " + r.unit) + " " + L(r.stable ? "stable" : "unstable");
}

// The same fields for every port and address.
std::string ReadingJson(const Reading& r) {
  return ",\"way\":" + JsonText(r.way) + ",\"weight\":" + Number(r.weight) + ",\"unit\":" + JsonText(r.unit) +
         ",\"stable\":" + (r.stable ? "true" : "false");
}

Reading FromLine(const WeightLine& w) {
  Reading r{"stream", 0, w.unit, w.stable};
  std::from_chars(w.number.data(), w.number.data() + w.number.size(), r.weight);
  return r;
}

struct PortReport {
  PortState state;  // free, in use, no permission, ...
  std::string openError;
  Verdict verdict;
  bool refused[2] = {false, false};  // the port would not take the setting
  bool asked = false;  // --ask: the driver read it as a request scale
  Reading reading;     // the driver's, when asked
  int askedAttrs = 0;
};

void ListenTo(PortReport* r) {
  const Listened l = ListenToPort(r->state.com);
  r->openError = l.openError;
  r->verdict = l.verdict;
  for (int attrs = 0; attrs < 2; ++attrs) r->refused[attrs] = l.heard[attrs].refused;
}

// The way the last reading took, from its trace: "stream", "ENQ, then DC1".
std::string WayOf(const std::vector<std::string>& trace) {
  std::string way;
  for (const std::string& line : trace) {
    const size_t at = line.find(" way: ");
    if (at != std::string::npos) way = line.substr(at + 6);
  }
  return way;
}

// Why a reading through the driver gave no weight: the driver's number
// (0 when the driver was not asked) and message, the cause and next step.
struct DriverFailure {
  int code = 0;
  std::string message, cause, next;
  // The scale sent by itself, yet gave no weight or answered a request:
  // its pace is worth a listen.
  bool unasked = false;
  std::string Text() const {
    return code == 0 ? message : "error " + std::to_string(code) + ": " + (cause.empty() ? message : cause);
  }
  std::string Json() const { return FailureFields(code, message, cause, next); }
};

// One reading through the driver, as the platform makes it, of a weight
// stable or not: a scale that moves is found all the same. True with the
// reading when it gave one; *failure otherwise.
bool ReadThroughDriver(Session& s, const Channel& c, Reading* reading, DriverFailure* failure) {
  failure->message = s.Configure(c, true);
  if (!failure->message.empty()) return false;
  const CallResult opened = s.Call(u"Open", {Arg::Empty()});
  if (!opened.ok()) {
    failure->message = L("the driver did not open the device");
    return false;
  }
  const std::u16string id = opened.argTexts[0];
  std::u16string message;
  int code = s.LastError(&message);
  bool read = false;
  if (code == 0) {
    const CallResult r = s.Call(u"GetWeight", {Arg::Text(id), Arg::Empty()});
    read = r.ok();
    if (read) {
      failure->unasked = AnsweredAmidUnasked(s.LastTrace());
      s.Describe(&reading->unit, &reading->stable);
      reading->way = WayOf(s.LastTrace());
      reading->weight = r.args[1].dblVal;
    } else {
      code = s.LastError(&message);
    }
  }
  if (!read) {
    const Cause cause = s.CauseOf(code);
    *failure = {code, Utf8(message), cause.why, cause.next, SendsUnasked(code, s.LastTrace())};
  }
  s.Call(u"Close", {Arg::Text(id)});
  return read;
}

bool FoundScale(const PortReport& r) { return r.verdict.finding == PortFinding::Stream || r.asked; }
int AttrsOf(const PortReport& r) { return r.asked ? r.askedAttrs : r.verdict.attrs; }

// The port's finding in words, for the text output.
std::string Describe(const PortReport& r) {
  if (r.state.state != "free") return L(r.state.state.c_str()) + (r.state.detail.empty() ? "" : ": " + r.state.detail);
  if (!r.openError.empty()) return Fill(L("cannot open: {}"), {r.openError});
  if (r.asked) {
    return Fill(L("request scale ({}): {}, with --attrs {} ({})"),
                {r.reading.way, ReadingText(r.reading), std::to_string(r.askedAttrs), kSettingNames[r.askedAttrs]});
  }
  const Verdict& v = r.verdict;
  const std::string setting = "--attrs " + std::to_string(v.attrs) + " (" + kSettingNames[v.attrs] + ")";
  switch (v.finding) {
    case PortFinding::Stream:
      return Fill(L("stream scale: {}, clean weight lines with {}"), {ReadingText(FromLine(v.line)), setting});
    case PortFinding::TooSlow: {
      const Cause slow = SlowCause(v.pace, false);
      return Fill(L("stream scale, too slow for the driver: {}, with {}; {}"),
                  {ReadingText(FromLine(v.line)), setting, slow.why + ": " + slow.next});
    }
    case PortFinding::Unknown:
      return Fill(L("{} bytes that are no weight lines with {}: {} (another setting or another device)"),
                  {std::to_string(v.bytes), setting, v.sample + (v.bytes > 16 ? " ..." : "")});
    case PortFinding::Refused: return L("the port refuses both line settings");
    case PortFinding::Silent: break;
  }
  std::string silent = L("silent (nothing sent to it; --ask asks it through the driver)");
  for (int attrs = 0; attrs < 2; ++attrs) {
    if (r.refused[attrs]) silent += Fill(L("; the port refuses --attrs {} ({})"), {std::to_string(attrs), kSettingNames[attrs]});
  }
  return silent;
}

// A scale too slow for the driver: how often its lines come, and the
// failure fields that say so.
std::string SlowJson(const LinePace& p, bool tcp) {
  const Cause slow = SlowCause(p, tcp);
  return ",\"line_interval_ms\":" + std::to_string(p.ms) + ",\"line_interval_at_least\":" +
         (p.atLeast ? "true" : "false") + FailureFields(0, L("a scale was found, but it streams too slowly for the driver"),
                                                       slow.why, slow.next);
}

std::string PortJson(const PortReport& r) {
  std::string out = "{\"com\":" + std::to_string(r.state.com) + ",\"device\":" + JsonText(r.state.device) +
                    r.state.identity.Json();
  if (!r.openError.empty()) {
    return out + ",\"state\":\"cannot open\"" +
           FailureFields(0, L("the port does not open"), r.openError, L("pesolan ports says what opening it meets")) + "}";
  }
  if (r.state.state != "free") {
    return out + ",\"state\":" + JsonText(r.state.state) +
           (r.state.detail.empty() ? "" : ",\"detail\":" + JsonText(r.state.detail)) + "}";
  }
  const Verdict& v = r.verdict;
  if (r.asked) {
    return out + ",\"state\":\"request\",\"attrs\":" + std::to_string(r.askedAttrs) + ReadingJson(r.reading) + "}";
  }
  switch (v.finding) {
    case PortFinding::Stream:
      return out + ",\"state\":\"stream\",\"attrs\":" + std::to_string(v.attrs) + ReadingJson(FromLine(v.line)) + "}";
    case PortFinding::TooSlow:
      return out + ",\"state\":\"too slow\",\"attrs\":" + std::to_string(v.attrs) + ReadingJson(FromLine(v.line)) +
             SlowJson(v.pace, false) + "}";
    case PortFinding::Unknown:
      return out + ",\"state\":\"unknown bytes\",\"attrs\":" + std::to_string(v.attrs) +
             ",\"bytes\":" + std::to_string(v.bytes) + ",\"sample\":" + JsonText(v.sample) + "}";
    case PortFinding::Refused: return out + ",\"state\":\"refuses both settings\"}";
    case PortFinding::Silent: break;
  }
  std::string refused;
  for (int attrs = 0; attrs < 2; ++attrs) {
    if (r.refused[attrs]) refused += std::string(refused.empty() ? "" : ",") + std::to_string(attrs);
  }
  return out + ",\"state\":\"silent\",\"refused_attrs\":[" + refused + "]}";
}

struct TcpReport {
  TcpTarget target;
  bool read = false;
  Reading reading;
  DriverFailure failure;
  LinePace pace;  // when it failed sending by itself: how often its lines come
  bool tooSlow() const { return TooSlow(pace, true); }
};

std::string Address(const TcpTarget& t) { return t.host + ":" + std::to_string(t.port); }

std::vector<PortReport> ListenToEveryPort() {
  std::vector<PortReport> reports;
  int32_t list[os::kMaxPort];
  const int count = os::ProbeSerialPorts(list);
  for (int i = 0; i < count; ++i) {
    reports.emplace_back();
    reports.back().state = LookAtPort(list[i]);
    reports.back().state.identity = IdentifyPort(reports.back().state.device);
  }
  std::vector<std::thread> listening;
  for (PortReport& r : reports) {
    if (r.state.state == "free") listening.emplace_back(ListenTo, &r);
  }
  for (std::thread& t : listening) t.join();
  return reports;
}

void AskSilentPorts(Session& s, std::vector<PortReport>* reports) {
  for (PortReport& r : *reports) {
    if (r.state.state != "free" || !r.openError.empty() || r.verdict.finding != PortFinding::Silent) continue;
    for (int attrs = 0; attrs < 2 && !r.asked; ++attrs) {
      Channel c;
      c.com = r.state.com;
      c.attrs = attrs;
      DriverFailure failure;
      r.asked = ReadThroughDriver(s, c, &r.reading, &failure);
      r.askedAttrs = attrs;
    }
  }
}

// An address's line, said as soon as it is known: with several addresses,
// each reading takes seconds.
void PrintTcp(const TcpReport& t) {
  std::string said = Fill(L("no scale: {}"), {t.failure.Text()});
  if (t.read) said = Fill(L("scale answering by {}: {}"), {t.reading.way, ReadingText(t.reading)});
  if (t.tooSlow()) {
    const Cause slow = SlowCause(t.pace, true);
    said = Fill(L("found, too slow: {}"), {slow.why + ": " + slow.next});
  }
  std::printf("%-21s %s\n", Address(t.target).c_str(), said.c_str());
  std::fflush(stdout);
}

// The pace of a scale found too slow, if any was.
LinePace SlowestFound(const std::vector<PortReport>& ports, const std::vector<TcpReport>& tcp) {
  for (const PortReport& r : ports) {
    if (r.state.state == "free" && r.verdict.finding == PortFinding::TooSlow) return r.verdict.pace;
  }
  for (const TcpReport& t : tcp) {
    if (t.tooSlow()) return t.pace;
  }
  return {};
}

// The report, but the addresses' lines in text, which went out already.
int Print(const Session& s, const std::vector<PortReport>& ports, const std::vector<TcpReport>& tcp) {
  std::vector<std::string> parameters, fields;
  for (const PortReport& r : ports) {
    if (!FoundScale(r)) continue;
    const std::string com = std::to_string(r.state.com), attrs = std::to_string(AttrsOf(r));
    parameters.push_back("Prm_Connect = 0, Prm_RsPort = " + com + ", Prm_ConnAttrs = " + attrs);
    fields.push_back("{\"Prm_Connect\":0,\"Prm_RsPort\":" + com + ",\"Prm_ConnAttrs\":" + attrs + "}");
  }
  for (const TcpReport& t : tcp) {
    if (!t.read || t.tooSlow()) continue;
    const std::string port = std::to_string(t.target.port);
    parameters.push_back("Prm_Connect = 1, Prm_IP = \"" + t.target.host + "\", Prm_TcpPort = " + port);
    fields.push_back("{\"Prm_Connect\":1,\"Prm_IP\":" + JsonText(t.target.host) + ",\"Prm_TcpPort\":" + port + "}");
  }
  const bool found = !parameters.empty();
  std::string none = L("no scale found"), why = L("no port or address gave a weight");
  std::string next = L(tcp.empty() ? "check the cable and that the scale is on; pesolan find --ask also asks the "
                                     "silent ports, and pesolan ports says what each port is"
                                   : "check the addresses and that the scales are on");
  const LinePace slow = SlowestFound(ports, tcp);
  if (slow.lines > 0) {
    const Cause c = SlowCause(slow, !tcp.empty() && ports.empty());
    none = L("a scale was found, but it streams too slowly for the driver");
    why = c.why;
    next = c.next;
  }
  if (s.o_.json) {
    std::string out = JsonOpen(found) + (found ? "" : FailureFields(0, none, why, next)) +
                      ",\"found\":" + std::to_string(parameters.size()) + ",\"ports\":[";
    for (const PortReport& r : ports) out += (&r == &ports.front() ? "" : ",") + PortJson(r);
    out += "],\"tcp\":[";
    for (const TcpReport& t : tcp) {
      std::string state = t.read ? ",\"state\":\"scale\"" + ReadingJson(t.reading)
                                 : ",\"state\":\"no scale\"" + t.failure.Json();
      if (t.tooSlow()) state = ",\"state\":\"too slow\"" + SlowJson(t.pace, true);
      out += std::string(&t == &tcp.front() ? "" : ",") + "{\"address\":" + JsonText(Address(t.target)) + state + "}";
    }
    out += "],\"parameters\":[";
    for (const std::string& f : fields) out += (&f == &fields.front() ? "" : ",") + f;
    std::printf("%s]}\n", out.c_str());
    return found ? 0 : 1;
  }
  if (ports.empty() && tcp.empty()) std::fprintf(stderr, "pesolan: %s\n", L("no serial port found"));
  for (const PortReport& r : ports) {
    const std::string what = r.state.identity.Text();
    std::printf("COM%-4d %-16s %s%s%s\n", r.state.com, r.state.device.c_str(), Describe(r).c_str(),
                what.empty() ? "" : "; ", what.c_str());
  }
  if (!found) {
    std::fprintf(stderr, "pesolan: %s; %s\n", none.c_str(), next.c_str());
    return 1;
  }
  std::printf("\n%s\n", L("For the platform:"));
  for (const std::string& p : parameters) std::printf("  %s\n", p.c_str());
  return 0;
}

}  // namespace

int Find(Session& s) {
  // Given addresses, find looks at those alone: no serial port is touched.
  std::vector<PortReport> ports;
  if (s.o_.tcp.empty()) ports = ListenToEveryPort();
  if (s.o_.ask) AskSilentPorts(s, &ports);
  std::vector<TcpReport> tcp;
  for (const TcpTarget& target : s.o_.tcp) {
    TcpReport t{target, false, {}, {}, {}};
    Channel c;
    c.tcp = true;
    c.host = target.host;
    c.port = target.port;
    t.read = ReadThroughDriver(s, c, &t.reading, &t.failure);
    if (t.failure.unasked) t.pace = ListenForPace(c);
    if (!s.o_.json) PrintTcp(t);
    tcp.push_back(t);
  }
  return Print(s, ports, tcp);
}

}  // namespace host
