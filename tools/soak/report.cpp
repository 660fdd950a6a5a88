#include "report.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace soak {
namespace {

// Numbers as text whatever the process's locale is (the soak switches it).
std::string Exact(double value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// What the scale sent and did from a second before a call to just after it,
// with times from the call's beginning: what the reading could have been.
std::string Around(const std::vector<Sent>& lines, int64_t begin, int64_t end) {
  constexpr int64_t kBefore = 1000000000, kAfter = 200000000;
  constexpr int kMostShown = 80;
  std::string out;
  int shown = 0;
  for (const Sent& s : lines) {
    if (s.ended < begin - kBefore || s.began > end + kAfter || ++shown > kMostShown) continue;
    const std::string made = s.made == s.began ? "" : ", made " + std::to_string((s.made - begin) / 1000000);
    out += " [" + std::to_string((s.began - begin) / 1000000) + ".." + std::to_string((s.ended - begin) / 1000000) +
           made + " ms] " + s.text + ";";
  }
  return out;
}

// "12:50:01.123", the local time of a moment of the monotonic clock.
std::string LocalTime(int64_t monotonicNs, int64_t wallLessMonotonicNs) {
  const int64_t wallNs = monotonicNs + wallLessMonotonicNs;
  const std::time_t seconds = static_cast<std::time_t>(wallNs / 1000000000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(wallNs / 1000000 % 1000));
  return text;
}

}  // namespace

void Findings::Judge(const std::vector<Call>& calls, const std::vector<std::vector<Sent>>& sent,
                     const std::vector<bool>& streams) {
  for (const Call& c : calls) {
    const std::string method = NameOf(c.method);
    ++outcomes[method][c.outcome];
    const long ms = static_cast<long>((c.end - c.begin) / 1000000);
    if (ms > slowestMs[method]) slowestMs[method] = ms;
    if (ms > BoundMs(c.method)) overBound.push_back(method + " took " + std::to_string(ms) + " ms");
    if (c.undefinedCode) ++undefinedCodes;
    if (c.method != Method::GetWeight || c.scale < 0) continue;
    const std::vector<Sent>& lines = sent[static_cast<size_t>(c.scale)];
    const std::string where = "seed " + std::to_string(seed) + ": scale " + std::to_string(c.scale) + ", unit " +
                              std::to_string(c.unit) + (c.allowUnstable ? " (unstable allowed)" : "") + ", at " +
                              LocalTime(c.begin, wallLessMonotonicNs) + ": ";
    if (!c.judged && LiveAndServed(lines, c.begin, c.end, streams[static_cast<size_t>(c.scale)], c.allowUnstable)) {
      liveRefused.push_back(where + c.outcome + " in a call of " + std::to_string(ms) +
                            " ms, while the scale sent as the driver serves;" + Around(lines, c.begin, c.end));
    }
    if (c.judged && !Justified(c.weight, lines, c.begin, c.end, c.unit, c.allowUnstable)) {
      wrongWeights.push_back(where + Exact(c.weight) + " in a call of " + std::to_string(ms) +
                             " ms, which no line of the scale then gives;" + Around(lines, c.begin, c.end));
    }
  }
}

bool Findings::Passed() const {
  return wrongWeights.empty() && liveRefused.empty() && overBound.empty() && undefinedCodes == 0 && unexpectedAnswers == 0 && slotsFree &&
         descriptorDrift <= kDescriptorMargin && (!memoryChecked || residentDriftKb <= kResidentMarginKb);
}

std::string Json(const Findings& f) {
  std::string out = "{\"seed\":" + std::to_string(f.seed) + ",\"seconds\":" + std::to_string(f.seconds) +
                    ",\"passed\":" + (f.Passed() ? "true" : "false") + ",\"scaleEvents\":" + std::to_string(f.events) +
                    ",\"calls\":{";
  for (const auto& [method, counts] : f.outcomes) {
    out += (out.back() == '{' ? "" : ",") + Quoted(method) + ":{";
    for (const auto& [outcome, n] : counts) out += (out.back() == '{' ? "" : ",") + Quoted(outcome) + ":" + std::to_string(n);
    out += "}";
  }
  out += "},\"slowest\":{";
  for (const auto& [method, ms] : f.slowestMs) {
    Method m = Method::Open;
    for (int i = 0; i < static_cast<int>(Method::Count); ++i) {
      if (method == NameOf(static_cast<Method>(i))) m = static_cast<Method>(i);
    }
    out += (out.back() == '{' ? "" : ",") + Quoted(method) + ":{\"ms\":" + std::to_string(ms) +
           ",\"boundMs\":" + std::to_string(BoundMs(m)) + "}";
  }
  out += "},\"wrongWeights\":[";
  for (const std::string& w : f.wrongWeights) out += (out.back() == '[' ? "" : ",") + Quoted(w);
  out += "],\"liveRefused\":[";
  for (const std::string& w : f.liveRefused) out += (out.back() == '[' ? "" : ",") + Quoted(w);
  out += "],\"overBound\":[";
  for (const std::string& w : f.overBound) out += (out.back() == '[' ? "" : ",") + Quoted(w);
  out += "],\"undefinedCodes\":" + std::to_string(f.undefinedCodes) +
         ",\"unexpectedAnswers\":" + std::to_string(f.unexpectedAnswers) +
         ",\"slotsFree\":" + (f.slotsFree ? "true" : "false") + ",\"descriptorDrift\":" +
         std::to_string(f.descriptorDrift) + ",\"residentDriftKb\":" + std::to_string(f.residentDriftKb) +
         ",\"memoryChecked\":" + (f.memoryChecked ? "true" : "false") + "}\n";
  return out;
}

std::string Markdown(const Findings& f) {
  std::string out =
      "# Reliability\n\n"
      "`make soak SECONDS=" + std::to_string(f.seconds) + " SEED=" + std::to_string(f.seed) +
      "` replays this run (the same schedule of calls and scale events; the threads' timing is the machine's).\n"
      "Eight sessions, each with its own component and 1 to 8 devices (one scale-sim each, TCP and, as root, serial),\n"
      "call the driver in a seeded random order while the scales change weight, stability, unit and mode, drip,\n"
      "burst, send junk, fall silent, are switched off, reset and flood. Every weight returned is judged against\n"
      "the lines its scale sent during the call (or in the 100 ms before it, for bytes still on their way, made\n"
      "at most a converter's pack before), and every failed reading against what its scale did: a scale that\n"
      "streamed or answered as the driver serves, with no fault around the call, must not be refused.\n\n"
      "Verdict: **" + std::string(f.Passed() ? "passed" : "FAILED") + "**, " + std::to_string(f.wrongWeights.size()) +
      " wrong weights, " + std::to_string(f.liveRefused.size()) + " live scales refused, " +
      std::to_string(f.events) + " scale events.\n\n"
      "| Method | Calls | Outcomes | Slowest | Bound |\n|---|---|---|---|---|\n";
  for (const auto& [method, counts] : f.outcomes) {
    long total = 0;
    std::string list;
    for (const auto& [outcome, n] : counts) {
      total += n;
      list += (list.empty() ? "" : ", ") + outcome + " " + std::to_string(n);
    }
    long bound = 0;
    for (int i = 0; i < static_cast<int>(Method::Count); ++i) {
      if (method == NameOf(static_cast<Method>(i))) bound = BoundMs(static_cast<Method>(i));
    }
    const auto slowest = f.slowestMs.find(method);
    out += "| " + method + " | " + std::to_string(total) + " | " + list + " | " +
           std::to_string(slowest == f.slowestMs.end() ? 0 : slowest->second) + " ms | " + std::to_string(bound) +
           " ms |\n";
  }
  out += "\n| Check | Result |\n|---|---|\n";
  out += "| wrong weights | " + std::to_string(f.wrongWeights.size()) + " |\n";
  out += "| live scales refused | " + std::to_string(f.liveRefused.size()) + " |\n";
  out += "| calls over their bound | " + std::to_string(f.overBound.size()) + " |\n";
  out += "| failures without a defined code | " + std::to_string(f.undefinedCodes) + " |\n";
  out += "| SetParameter answers against the value | " + std::to_string(f.unexpectedAnswers) + " |\n";
  out += "| all 256 slots free at the end | " + std::string(f.slotsFree ? "yes" : "no") + " |\n";
  out += "| descriptors, end against after warm-up | " + std::to_string(f.descriptorDrift) + " (at most " +
         std::to_string(kDescriptorMargin) + ") |\n";
  out += "| resident memory, end against after warm-up | " + std::to_string(f.residentDriftKb) + " KB (" +
         (f.memoryChecked ? "at most " + std::to_string(kResidentMarginKb) + " KB" : "not judged under a sanitizer") +
         ") |\n";
  return out;
}

}  // namespace soak
