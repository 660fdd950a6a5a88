// scale-sim: a simulated scale for trying the driver without hardware.
// Listens on TCP (loopback by default) and/or offers a pseudo-terminal,
// streams weight lines or answers ENQ/DC1 requests, and can misbehave on
// purpose. It prints where it can be reached, then serves until its lifetime
// runs out or it receives SIGINT or SIGTERM.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "control.h"
#include "io.h"
#include "scale.h"
#include "sent_log.h"

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

struct Options {
  sim::ScaleOptions scale;
  bool tcp = false;
  std::string host = "127.0.0.1";
  int port = 0;
  bool pty = false;
  int intervalMs = 30;
  long byteGapUs = 0;          // 0: a line goes out at once
  long quitAfter = -1;         // bytes sent before the scale quits
  bool disconnect = false;     // quitting closes a TCP connection
  bool resetOnRequest = false; // a TCP peer that sends anything is reset
  bool flood = false;          // stream lines as fast as the peer takes them
  std::string received;        // file that gets every byte received
  std::string sent;            // file that gets every line sent, with its time
  bool control = false;        // commands on standard input
  int lifetimeS = 300;
};

// When flooding, lines are kept queued by the megabyte, so that every write
// gives the peer more than it can read in the same time.
constexpr size_t kFloodBlock = 65536;
constexpr size_t kFloodQueued = 1 << 20;

std::atomic<bool> g_stop{false};
std::atomic<bool> g_switch{false};

void Usage() {
  std::fputs(
      "usage: scale-sim [--tcp [PORT]] [--host ADDR] [--pty]\n"
      "                 [--mode stream|request|silent|junk-short|junk-long]\n"
      "                 [--weight TEXT] [--unit kg|g|t] [--unstable N] [--line TEXT]...\n"
      "                 [--interval MS] [--wire-speed] [--drip MS]\n"
      "                 [--enq-reply ack|nak|none] [--reply-bytes N]\n"
      "                 [--stop-after BYTES] [--disconnect-after BYTES]\n"
      "                 [--reset-on-request] [--flood] [--received FILE]\n"
      "                 [--sent FILE] [--control] [--lifetime SECONDS]\n"
      "SIGUSR1 switches between stream and request mode.\n"
      "Prints 'tcp HOST PORT' and/or 'pty PATH', then serves.\n",
      stderr);
}

bool ParseMode(const std::string& v, Options* o) {
  if (v == "stream") o->scale.mode = sim::Mode::Stream;
  else if (v == "request") o->scale.mode = sim::Mode::Request;
  else if (v == "silent") o->scale.mode = sim::Mode::Silent;
  else if (v == "junk-short") o->scale.lines = {"JUNK 12 kg"};
  else if (v == "junk-long") o->scale.lines = {"?? NO WEIGHT 12 lb"};
  else return false;
  return true;
}

bool ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    const std::string v = hasValue ? argv[i + 1] : "";
    auto take = [&] { ++i; return v; };
    if (a == "--tcp") {
      o->tcp = true;
      if (hasValue && v[0] != '-') o->port = std::atoi(take().c_str());
    } else if (a == "--pty") {
      o->pty = true;
    } else if (a == "--reset-on-request") {
      o->resetOnRequest = true;
    } else if (a == "--flood") {
      o->flood = true;
    } else if (a == "--control") {
      o->control = true;
    } else if (a == "--wire-speed") {
      o->byteGapUs = 1042;  // ten bits at 9600 baud
    } else if (!hasValue) {
      return false;
    } else if (a == "--host") o->host = take();
    else if (a == "--mode") { if (!ParseMode(take(), o)) return false; }
    else if (a == "--weight") o->scale.weight = take();
    else if (a == "--unit") o->scale.unit = take();
    else if (a == "--unstable") o->scale.unstableLines = std::atoi(take().c_str());
    else if (a == "--line") o->scale.lines.push_back(take());
    else if (a == "--interval") o->intervalMs = std::atoi(take().c_str());
    else if (a == "--drip") o->byteGapUs = std::atol(take().c_str()) * 1000;
    else if (a == "--reply-bytes") o->scale.replyBytes = std::atoi(take().c_str());
    else if (a == "--stop-after") o->quitAfter = std::atol(take().c_str());
    else if (a == "--disconnect-after") { o->quitAfter = std::atol(take().c_str()); o->disconnect = true; }
    else if (a == "--lifetime") o->lifetimeS = std::atoi(take().c_str());
    else if (a == "--received") o->received = take();
    else if (a == "--sent") o->sent = take();
    else if (a == "--enq-reply") {
      const std::string r = take();
      if (r == "ack") o->scale.enqReply = sim::EnqReply::Ack;
      else if (r == "nak") o->scale.enqReply = sim::EnqReply::Nak;
      else if (r == "none") o->scale.enqReply = sim::EnqReply::None;
      else return false;
    } else {
      return false;
    }
  }
  if (!o->tcp && !o->pty) o->tcp = true;
  return true;
}

// One peer of the scale: a TCP client or the pseudo-terminal.
struct Peer {
  sim::io::Endpoint end;
  sim::Scale scale;
  std::string out;
  std::string flood;  // a block of stream lines, when flooding
  Clock::time_point nextByte;
  Clock::time_point nextLine;
  long sent = 0;
  bool closed = false;
  bool reset = false;      // already closed by a reset
  sim::LineOut line = {};  // the line going out, for the --sent file
};

class Server {
 public:
  explicit Server(const Options& o) : o_(o), log_(o.sent) {}

  bool Start() {
    if (o_.tcp && !Listen()) return false;
    if (o_.pty && !OpenPty()) return false;
    std::fflush(stdout);
    return true;
  }

  void Run() {
    const auto end = Clock::now() + std::chrono::seconds(o_.lifetimeS);
    std::vector<bool> ready;
    while (!g_stop && Clock::now() < end) {
      if (g_switch.exchange(false)) SwitchMode();
      std::vector<sim::io::Endpoint> waiting;
      if (listener_ != sim::io::kNoFd) waiting.push_back({listener_, false});
      for (auto& p : peers_) waiting.push_back(p->end);
      if (o_.control) waiting.push_back({0, false});  // standard input
      sim::io::Wait(waiting, WaitTime(), &ready);
      size_t k = 0;
      if (listener_ != sim::io::kNoFd && ready[k++]) Accept();
      for (size_t i = 0; i < peers_.size() && k < ready.size(); ++i, ++k) {
        if (ready[k]) Receive(*peers_[i]);
      }
      if (o_.control && ready.back()) TakeCommands();
      for (auto& p : peers_) Produce(*p);
      Reap();
    }
  }

 private:
  bool Listen() {
    int bound = 0;
    listener_ = sim::io::Listen(o_.host, o_.port, &bound);
    if (listener_ == sim::io::kNoFd) return false;
    std::printf("tcp %s %d\n", o_.host.c_str(), bound);
    return true;
  }

  bool OpenPty() {
    std::string path;
    const sim::io::Fd master = sim::io::OpenPty(&path);
    if (master == sim::io::kNoFd) return false;
    std::printf("pty %s\n", path.c_str());
    AddPeer(master, true);
    return true;
  }

  void AddPeer(sim::io::Fd fd, bool isPty) {
    const auto now = Clock::now();
    peers_.push_back(std::unique_ptr<Peer>(new Peer{{fd, isPty}, sim::Scale(o_.scale), "", "", now, now}));
  }

  void Accept() {
    const sim::io::Fd fd = sim::io::Accept(listener_);
    if (fd != sim::io::kNoFd) {
      AddPeer(fd, false);
      log_.Note("connected");
    }
  }

  void Receive(Peer& p) {
    uint8_t buf[256];
    const long n = sim::io::Read(p.end, buf, sizeof buf);
    if (n > 0) Record(buf, static_cast<size_t>(n));
    if (n > 0 && o_.resetOnRequest && !p.end.pty) {
      sim::io::Reset(p.end);
      p.reset = true;
      p.closed = true;
      return;
    }
    if (n > 0 && o_.scale.mode == sim::Mode::Request) Queue(p, p.scale.Answer(buf, static_cast<size_t>(n)));
    if (n == 0) p.closed = true;
  }

  // Appends what the driver sent to the --received file.
  void Record(const uint8_t* bytes, size_t count) const {
    if (o_.received.empty()) return;
    if (FILE* f = std::fopen(o_.received.c_str(), "ab")) {
      std::fwrite(bytes, 1, count, f);
      std::fclose(f);
    }
  }

  // Reads what standard input has and carries out each whole line; its end
  // ends the commands.
  void TakeCommands() {
    char buffer[512];
    const long n = sim::io::Read({0, false}, buffer, sizeof buffer);
    if (n == 0) o_.control = false;
    if (n <= 0) return;
    commands_.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = commands_.find('\n')) != std::string::npos;) {
      log_.Note(commands_.substr(0, end));
      Apply(sim::ParseCommand(commands_.substr(0, end)));
      commands_.erase(0, end + 1);
    }
  }

  void SetMode(const std::string& mode) {
    if (mode == "stream") o_.scale.mode = sim::Mode::Stream;
    if (mode == "request") o_.scale.mode = sim::Mode::Request;
    if (mode == "silent") o_.scale.mode = sim::Mode::Silent;
    for (auto& p : peers_) {
      p->out.clear();
      log_.Abandoned(p->line);
    }
  }

  void Apply(const sim::Command& c) {
    using K = sim::Command;
    const auto now = Clock::now();
    for (auto& p : peers_) {
      if (c.kind == K::Weight) p->scale.Show(c.text, o_.scale.unit);
      if (c.kind == K::Unit) p->scale.Show(o_.scale.weight, c.text);
      if (c.kind == K::Weight || c.kind == K::Unit) p->flood.clear();
      if (c.kind == K::Unstable) p->scale.MakeUnstable(static_cast<int>(c.number));
      if (c.kind == K::Junk) p->scale.MakeJunk(static_cast<int>(c.number));
      if (c.kind == K::Burst && o_.scale.mode == sim::Mode::Stream) {
        for (long i = 0; i < c.number && i < 100; ++i) Queue(*p, p->scale.NextStreamLine());
      }
      if ((c.kind == K::Disconnect || c.kind == K::Reset) && !p->end.pty && !p->closed) {
        if (c.kind == K::Reset) sim::io::Reset(p->end);
        p->reset = c.kind == K::Reset;
        p->closed = true;
      }
    }
    if (c.kind == K::Weight) o_.scale.weight = c.text;
    if (c.kind == K::Unit) o_.scale.unit = c.text;
    if (c.kind == K::Mode) SetMode(c.text);
    if (c.kind == K::Drip) o_.byteGapUs = c.number * 1000;
    if (c.kind == K::Interval) o_.intervalMs = static_cast<int>(c.number);
    if (c.kind == K::Flood) floodUntil_ = now + std::chrono::milliseconds(c.number);
  }

  bool Flooding(Clock::time_point now) const { return o_.flood || now < floodUntil_; }

  // Stream and request mode trade places (on SIGUSR1).
  void SwitchMode() {
    if (o_.scale.mode == sim::Mode::Stream) {
      o_.scale.mode = sim::Mode::Request;
    } else if (o_.scale.mode == sim::Mode::Request) {
      o_.scale.mode = sim::Mode::Stream;
    }
    for (auto& p : peers_) p->out.clear();
  }

  // Bytes queued after a pause go out at the pace from now on, not in a
  // burst that makes up for the pause; at wire speed a byte is there only
  // once its ten bits have crossed the line.
  void Queue(Peer& p, const std::string& bytes) const {
    if (p.out.empty()) p.nextByte = Clock::now() + Micros(o_.byteGapUs);
    p.out += bytes;
  }

  bool Quit(const Peer& p) const { return o_.quitAfter >= 0 && p.sent >= o_.quitAfter; }

  // Queues the next stream line when due and sends what the pacing allows.
  void Produce(Peer& p) {
    const auto now = Clock::now();
    if (Quit(p)) {
      p.out.clear();
      if (o_.disconnect && !p.end.pty) p.closed = true;
      return;
    }
    if (o_.scale.mode == sim::Mode::Stream && Flooding(now)) {
      if (p.flood.empty()) {
        while (p.flood.size() < kFloodBlock) p.flood += p.scale.NextStreamLine();
      }
      while (p.out.size() < kFloodQueued) p.out += p.flood;
    } else if (o_.scale.mode == sim::Mode::Stream && p.out.empty() && now >= p.nextLine) {
      Queue(p, p.scale.NextStreamLine());
      p.nextLine = now + std::chrono::milliseconds(o_.intervalMs);
    }
    if (p.out.empty()) {
      p.nextByte = now;
      return;
    }
    while (!p.out.empty() && now >= p.nextByte && !Quit(p)) {
      size_t chunk = o_.byteGapUs > 0 ? 1 : p.out.size();
      if (o_.quitAfter >= 0) chunk = std::min<size_t>(chunk, static_cast<size_t>(o_.quitAfter - p.sent));
      const long long began = sim::SentLog::Now();
      const long n = sim::io::Write(p.end, p.out.data(), chunk);
      if (n <= 0) {  // the queue is full: try again later (at once when flooding)
        p.nextByte = now + Micros(Flooding(now) ? 200 : 5000);
        break;
      }
      log_.Wrote(p.line, p.out.data(), static_cast<size_t>(n), began);
      p.out.erase(0, static_cast<size_t>(n));
      p.sent += n;
      if (o_.byteGapUs > 0) p.nextByte += Micros(o_.byteGapUs);
    }
    if (Quit(p)) Produce(p);
  }

  void Reap() {
    for (size_t i = 0; i < peers_.size();) {
      if (peers_[i]->closed) {
        log_.Abandoned(peers_[i]->line);
        log_.Note("disconnected");
        if (!peers_[i]->reset) sim::io::Close(peers_[i]->end);
        peers_.erase(peers_.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
  }

  // Microseconds until something is due, at most 20 ms.
  long WaitTime() const {
    auto wait = Micros(20000);  // also bounds how late a signal is noticed
    const auto now = Clock::now();
    for (const auto& p : peers_) {
      if (Quit(*p)) continue;
      if (!p->out.empty()) wait = std::min(wait, std::chrono::duration_cast<Micros>(p->nextByte - now));
      if (o_.scale.mode == sim::Mode::Stream)
        wait = std::min(wait, std::chrono::duration_cast<Micros>(p->nextLine - now));
    }
    return wait.count() < 0 ? 0 : static_cast<long>(wait.count());
  }

  Options o_;
  sim::SentLog log_;
  std::string commands_;
  Clock::time_point floodUntil_{};
  sim::io::Fd listener_ = sim::io::kNoFd;
  std::vector<std::unique_ptr<Peer>> peers_;
};

void OnStop() { g_stop = true; }
void OnSwitch() { g_switch = true; }

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, &o)) {
    Usage();
    return 2;
  }
  if (!sim::io::Start()) return 1;
  sim::io::OnStop(OnStop);
  sim::io::OnSwitch(OnSwitch);
  Server server(o);
  if (!server.Start()) return 1;
  server.Run();
  return 0;
}
