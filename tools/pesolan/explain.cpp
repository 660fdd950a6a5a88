#include "explain.h"

#include <cstdlib>

#include "words.h"

namespace host {
namespace {

// "127.0.0.1:4000 +200 ms sent 05 ENQ" -> "sent 05 ENQ"
std::string EventOf(const std::string& line) {
  const size_t ms = line.find(" ms ");
  return ms == std::string::npos ? line : line.substr(ms + 4);
}

bool Begins(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }
bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The last event that begins with prefix; empty when none does.
std::string Last(const std::vector<std::string>& trace, const char* prefix) {
  for (auto line = trace.rbegin(); line != trace.rend(); ++line) {
    const std::string event = EventOf(*line);
    if (Begins(event, prefix)) return event;
  }
  return "";
}

// The last event that holds part anywhere; empty when none does.
std::string LastWith(const std::vector<std::string>& trace, const char* part) {
  for (auto line = trace.rbegin(); line != trace.rend(); ++line) {
    const std::string event = EventOf(*line);
    if (Has(event, part)) return event;
  }
  return "";
}

std::string Find() { return L("pesolan find listens on every free port with both line settings"); }
std::string FindTcp() { return L("pesolan find --tcp HOST:PORT tells what answers at an address"); }

Cause TcpCause(const std::string& event) {
  Cause c{event, L("check the address and the port number, and that the scale (or its network adapter) is on")};
  if (Has(event, "does not resolve")) c.next = L("check the host name, or give the scale's IP address");
  if (Has(event, "refused")) {
    c.next = L("nothing listens at that port: check the port number in the scale's network settings");
  }
  if (Has(event, "timed out") || Has(event, "unreachable")) {
    c.next = L("check the network between here and the scale (cable, address, firewall)");
  }
  return c;
}

Cause SerialOpenCause(const std::string& event, const std::string& held) {
  Cause c{event, Fill(L("check the COM number; pesolan ports lists the ports there are, and {}"), {Find()})};
  if (Has(event, "held by another program")) {
    // The driver names the holders it can see; pesolan adds them where not.
    if (!held.empty() && !Has(event, "held by another program:")) c.why += " (" + held + ")";
    c.next = L("close the program that holds the port, or read the scale through it");
  } else if (Has(event, "ermission")) {
    c.next = L("the user may not open the port: pesolan ports says what would let them");
  } else if (Has(event, "No such file") || Has(event, "cannot find")) {
    c.next = L("the port does not exist: check the cable or adapter; pesolan ports lists the ports there are");
  }
  return c;
}

// A reading that found the channel closed.
Cause ClosedCause(const Context& c) {
  return {L(c.tcp ? "the connection is closed: the scale hung up, or the network between broke"
                  : "the port is closed: its adapter was pulled out, or the port failed"),
          L("Close the device and Open it again once the scale is back (the platform: Отключить, then Подключить; "
            "pesolan weight --watch does it itself)")};
}

// Bytes came, but no weight line among them.
Cause JunkCause(const std::string& event, const Context& c) {
  const std::string why = Fill(L("the scale sends bytes that form no weight line ({})"), {event});
  if (c.tcp) {
    return {why, Fill(L("check that the device at this address is the scale and that it is set to send weights; {}"),
                      {FindTcp()})};
  }
  return {why, Fill(L("check the line setting (--attrs 0: 8 data bits, no parity; 1: 7 data bits, even parity) and "
                      "that the scale is set to send weights; {}"),
                    {Find()})};
}

// The reading found a stream that then brought no current weight line.
Cause StreamCause(const std::string& event, bool behind, const Context& c) {
  if (behind) {
    return {Fill(L("the scale sends faster than a reading can keep up ({})"), {event}),
            L(c.tcp ? "check the scale's send interval and that nothing between (a network adapter) gathers its lines"
                    : "check the scale's send interval and its line speed: 9600 baud")};
  }
  return {Fill(L("the scale streamed, then stopped: {} without a weight line"), {event}) +
              (c.tcp ? L(" (it may have hung up)") : ""),
          L(c.tcp ? "check that the scale is on and still connected; Close and Open the device once it is"
                  : "check that the scale is on and that its cable is in")};
}

// purged: what the purge threw away before the reading, if anything.
Cause SilentCause(const std::string& purged, const Context& c) {
  const std::string why =
      purged.empty() ? L("nothing came from the scale: no stream, and no answer to ENQ or ENQ DC1")
                     : Fill(L("bytes came before the reading ({}), then nothing: no stream, and no answer to ENQ or ENQ "
                              "DC1"),
                            {purged});
  if (c.hadWeights) {
    return {why, L(c.tcp ? "it gave weights here before: check that the scale is still on and still streams or answers"
                         : "it gave weights here before: check that the scale is still on and its cable still in")};
  }
  if (c.tcp) {
    return {why, Fill(L("check that the scale is on, that this address and port are its own (the scale's network "
                        "settings), and that it streams or answers requests; {}"),
                      {FindTcp()})};
  }
  return {why, Fill(L("check the cable (RS-232 to a computer takes a null-modem cable), that the scale is on, and that "
                      "it streams or answers requests; {}"),
                    {Find()})};
}

}  // namespace

ParsedLine LastParsed(const std::vector<std::string>& trace) {
  ParsedLine p;
  const std::string event = Last(trace, "parsed: ");
  if (event.empty()) return p;
  // "parsed: stable 12.345 kg", "parsed: unstable 1500 g", "parsed: stable 7 as on the scale"
  p.found = true;
  p.stable = Begins(event, "parsed: stable ");
  const size_t value = event.find(' ', 8);
  const size_t unit = value == std::string::npos ? value : event.find(' ', value + 1);
  if (unit != std::string::npos) p.unit = event.substr(unit + 1);
  if (p.unit == "as on the scale" || p.unit == "?") p.unit.clear();
  return p;
}

bool SendsUnasked(int code, const std::vector<std::string>& trace) {
  if (code != 106 || !Last(trace, "still behind the scale").empty() || ChannelClosed(trace) ||
      !LastWith(trace, "without a weight line").empty() || !Last(trace, "the reply is not a weight line").empty()) {
    return false;
  }
  return !Last(trace, "way: stream").empty() || !Last(trace, "purge: ").empty() || !Last(trace, "unasked: ").empty();
}

bool AnsweredAmidUnasked(const std::vector<std::string>& trace) {
  return Last(trace, "way: stream").empty() && (!Last(trace, "purge: ").empty() || !Last(trace, "unasked: ").empty());
}

int HeldPort(const std::vector<std::string>& trace) {
  const std::string event = Last(trace, "cannot open COM");
  if (event.empty() || !Has(event, "held by another program")) return 0;
  return std::atoi(event.c_str() + std::string("cannot open COM").size());
}

bool ChannelClosed(const std::vector<std::string>& trace) {
  return !Last(trace, "the channel is not open").empty() || !Last(trace, "send failed").empty() ||
         !Last(trace, "the connection is closed").empty();
}

Cause Explain(int code, const std::vector<std::string>& trace, const Context& c) {
  std::string event;
  if (!(event = Last(trace, "cannot connect to ")).empty()) return TcpCause(event);
  if (!(event = Last(trace, "TCP port ")).empty()) return {event, L("give a port from 1 to 65535")};
  if (!(event = Last(trace, "cannot open COM")).empty()) return SerialOpenCause(event, c.held);
  if (!(event = Last(trace, "the port refuses ")).empty()) {
    return {event, L("the port cannot take this line setting: try the other one (--attrs 0 or 1)")};
  }
  if (ChannelClosed(trace)) return ClosedCause(c);
  if (code == 110) {
    return {L("the weight is not stable yet"), L("wait for the scale to settle, or allow unstable weights (--allow-unstable)")};
  }
  if (code == 103) return {L("the system has no serial port"), L("connect the scale's cable or adapter; pesolan ports --all")};
  event = LastWith(trace, "bytes without a weight line");
  if (event.empty()) event = Last(trace, "the reply is not a weight line");
  if (!event.empty()) return JunkCause(event, c);
  if (!(event = Last(trace, "still behind the scale")).empty()) return StreamCause(event, true, c);
  if (!(event = Last(trace, "the stream's ")).empty() && !Last(trace, "way: stream").empty()) {
    return StreamCause(event, false, c);
  }
  if (code == 106) return SilentCause(Last(trace, "purge: "), c);
  return {"", L(c.traced ? "the trace above shows the whole dialogue with the scale"
                         : "pesolan --trace shows the whole dialogue with the scale")};
}

}  // namespace host
