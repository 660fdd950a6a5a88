#include "weight.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "line_pace.h"
#include "say.h"
#include "utf.h"
#include "words.h"

namespace host {
namespace {

// The summary as it would be said now, kept ready for a signal handler:
// two buffers, the one in use named by g_ready (-1: no watch). Room for the
// JSON summary with the last failure's cause and next step in Russian.
char g_summary[2][4096];
int g_summaryLength[2] = {0, 0};
int g_summaryFd = 2;
volatile std::sig_atomic_t g_ready = -1;
// A reading is under way in the driver; Ctrl+C came during one.
volatile std::sig_atomic_t g_reading = 0;
volatile std::sig_atomic_t g_interrupted = 0;

// What a watch has read: readings, weights, and failures by code.
struct Tally {
  int readings = 0;
  int weights = 0;
  std::map<int, int> failures;
  std::string lastFailure;  // its JSON fields, for the summary's object

  std::string Text() const {
    std::string text = Fill(L("watch: {} readings, {} weights"), {std::to_string(readings), std::to_string(weights)});
    for (const auto& f : failures) {
      text += Fill(L(f.first == failures.begin()->first ? ", failed: {} with {}" : ", {} with {}"),
                   {std::to_string(f.second), std::to_string(f.first)});
    }
    return text + "\n";
  }
  std::string Json() const {
    std::string counts;
    for (const auto& f : failures) {
      counts += std::string(counts.empty() ? "" : ",") + "\"" + std::to_string(f.first) + "\":" + std::to_string(f.second);
    }
    const bool ok = lastFailure.empty();
    return JsonOpen(ok) + (ok ? "" : lastFailure) + ",\"summary\":{\"readings\":" + std::to_string(readings) +
           ",\"weights\":" + std::to_string(weights) + ",\"failures\":{" + counts + "}}}\n";
  }
};

// Keeps the summary ready: written into the buffer not in use, then named.
void KeepReady(const Options& o, const Tally& t) {
  const int next = g_ready == 0 ? 1 : 0;
  const std::string text = o.json ? t.Json() : t.Text();
  const size_t n = std::min(text.size(), sizeof g_summary[next]);
  std::memcpy(g_summary[next], text.data(), n);
  g_summaryLength[next] = static_cast<int>(n);
  g_summaryFd = o.json ? 1 : 2;
  g_ready = next;
}

std::string WeightText(double weight, const std::string& symbol, bool stable) {
  return Number(weight) + (symbol.empty() ? "" : " ") + symbol + (stable ? "" : " unstable");
}

std::string WeightJson(const Session& s, double weight, const std::string& symbol, bool stable, const Moment& m) {
  return JsonOpen(true) + ",\"weight\":" + Number(weight) + ",\"unit\":" + JsonText(symbol) +
         ",\"unit_option\":" + std::to_string(s.o_.unit) + ",\"stable\":" + (stable ? "true" : "false") + m.Json() +
         "}";
}

// One watch line for a failure: the time, the driver's number and message,
// the cause, and what became of the channel when it had closed.
void SayWatchFailure(const Session::Failure& f, const Moment& m, const std::string& channel) {
  std::fprintf(stderr, "%s error %d: %s%s%s%s%s%s\n", m.Clock().c_str(), f.code, Utf8(f.message).c_str(),
               f.cause.why.empty() ? "" : " (", f.cause.why.c_str(), f.cause.why.empty() ? "" : ")",
               channel.empty() ? "" : "; ", channel.c_str());
}

class Reader {
 public:
  Reader(Session& s, std::u16string id) : s_(s), id_(std::move(id)) {}
  ~Reader() { s_.Call(u"Close", {Arg::Text(id_)}); }

  // One reading, said; true when it gave a weight.
  bool ReadOnce() {
    Moment m = Moment::Now();
    g_reading = 1;
    const CallResult r = s_.Call(u"GetWeight", {Arg::Text(id_), Arg::Empty()});
    g_reading = 0;
    m.End();
    ++tally_.readings;
    if (r.ok()) return SayWeight(r.args[1].dblVal, m);
    Session::Failure failure = s_.LastFailure();
    if (SendsUnasked(failure.code, s_.LastTrace())) ListenedCause(&failure.cause);
    ++tally_.failures[failure.code];
    tally_.lastFailure = FailureFields(failure.code, Utf8(failure.message), failure.cause.why, failure.cause.next);
    const bool closed = s_.o_.watch && s_.ChannelClosed();
    const std::string reopen = closed ? Reopen() : "";
    if (!s_.o_.watch || s_.o_.json) {
      s_.Report(failure, m.Json() + reopen);
    } else {
      SayWatchFailure(failure, m, reopen);
    }
    return false;
  }

  const Tally& tally() const { return tally_; }

 private:
  bool SayWeight(double weight, const Moment& m) {
    s_.Weighed();
    ++tally_.weights;
    tally_.lastFailure.clear();
    std::string symbol;
    bool stable = true;
    s_.Describe(&symbol, &stable);
    if (s_.o_.json) {
      std::printf("%s\n", WeightJson(s_, weight, symbol, stable, m).c_str());
    } else {
      std::printf("%s%s\n", s_.o_.watch ? (m.Clock() + " ").c_str() : "", WeightText(weight, symbol, stable).c_str());
    }
    return true;
  }

  // A scale that sends by itself yet gave no weight may send its lines too
  // far apart for the driver: heard once, with the device closed meanwhile
  // (a port or a converter takes one user), and said instead of the cause.
  void ListenedCause(Cause* cause) {
    if (!listened_) {
      listened_ = true;
      s_.Call(u"Close", {Arg::Text(id_)});
      const Channel c = ChannelOf(s_.o_);
      const LinePace pace = ListenForPace(c);
      if (TooSlow(pace, c.tcp)) slow_ = SlowCause(pace, c.tcp);
      if (s_.o_.watch) {
        const CallResult again = s_.Call(u"Open", {Arg::Empty()});
        if (again.ok()) id_ = again.argTexts[0];
      }
    }
    if (!slow_.why.empty()) *cause = slow_;
  }

  // A scale switched off and on again: the watch opens its channel anew.
  // What to say of it: JSON fields, or a line of text.
  std::string Reopen() {
    s_.Call(u"Close", {Arg::Text(id_)});
    const CallResult again = s_.Call(u"Open", {Arg::Empty()});
    if (again.ok()) id_ = again.argTexts[0];
    std::u16string message;
    const int code = again.ok() ? s_.LastError(&message) : -1;
    if (code == 0) return s_.o_.json ? ",\"reopened\":true" : L("the channel had closed: opened it again");
    const std::string why = code < 0 ? L("the driver did not open the device") : s_.CauseOf(code).why;
    if (s_.o_.json) return ",\"reopened\":false,\"reopen_cause\":" + JsonText(why);
    return L("the channel had closed: it does not open yet") + (why.empty() ? "" : ": " + why);
  }

  Session& s_;
  std::u16string id_;
  Tally tally_;
  bool listened_ = false;
  Cause slow_;  // the scale's lines come too far apart, as heard
};

}  // namespace

const char kInterruptedJson[] =
    "{\"schema\":1,\"ok\":false,\"code\":0,\"message\":\"interrupted\",\"cause\":\"Ctrl+C\",\"next\":\"\"}\n";

bool EndAfterThisReading() {
  if (g_reading == 0 || g_interrupted != 0) return false;
  g_interrupted = 1;
  return true;
}

void SayWatchSummaryNow() {
  const int ready = g_ready;
  if (ready < 0) return;
#if defined(_WIN32)
  (void)!_write(g_summaryFd, g_summary[ready], static_cast<unsigned>(g_summaryLength[ready]));
#else
  (void)!write(g_summaryFd, g_summary[ready], static_cast<size_t>(g_summaryLength[ready]));
#endif
}

int Weight(Session& s) {
  const std::string refused = s.Configure(ChannelOf(s.o_));
  if (!refused.empty()) return UsageError(s.o_, refused);
  const CallResult opened = s.Call(u"Open", {Arg::Empty()});
  if (!opened.ok()) return s.ReportError();
  Reader reader(s, opened.argTexts[0]);
  std::u16string message;
  if (s.LastError(&message) != 0) return s.ReportError();
  // --interval is a period: each reading starts that long after the one
  // before it started, or at once when that one took longer.
  auto start = std::chrono::steady_clock::now();
  bool read = false;
  for (int n = 0;; ++n) {
    read = reader.ReadOnce();
    if (s.o_.watch) KeepReady(s.o_, reader.tally());
    if (std::fflush(stdout) != 0) return -1;
    if (g_interrupted != 0) break;
    if (!s.o_.watch || (s.o_.count > 0 && n + 1 >= s.o_.count)) break;
    start = std::max(start + std::chrono::milliseconds(s.o_.intervalMs), std::chrono::steady_clock::now());
    std::this_thread::sleep_until(start);
  }
  if (g_interrupted != 0 && s.o_.json) std::fputs(kInterruptedJson, stdout);
  if (s.o_.watch) {
    g_ready = -1;
    const std::string summary = s.o_.json ? reader.tally().Json() : reader.tally().Text();
    std::fputs(summary.c_str(), s.o_.json ? stdout : stderr);
  }
  if (g_interrupted != 0) return kInterruptedStatus;
  return read ? 0 : 1;
}

}  // namespace host
