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
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "control.h"
#include "io.h"
#include "pack.h"
#include "scale.h"
#include "sent_log.h"

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

// What a streaming scale does while its peer takes no bytes: waits with its
// next line until the last has gone; goes on making lines at its pace and
// queues them (a converter's buffer), or loses them (a scale on a wire,
// which never waits for its reader).
enum class Unread { Wait, Queue, Drop };

struct Options {
  sim::ScaleOptions scale;
  Unread unread = Unread::Wait;
  sim::PackRule pack;          // none: each write goes as it is
  bool tcp = false;
  std::string host = "127.0.0.1";
  int port = 0;
  bool pty = false;
  std::string attach;          // a local socket to connect to (a VM's serial port)
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
// The most a queueing scale keeps waiting, as a serial-to-network
// converter's buffer.
constexpr size_t kQueueLimit = 65536;

std::atomic<bool> g_stop{false};
std::atomic<bool> g_switch{false};

const char* const kUsage =
    "usage: scale-sim [--tcp [PORT]] [--host ADDR] [--pty] [--attach SOCKET]\n"
    "                 [--mode stream|request|silent|junk-short|junk-long]\n"
    "                 [--weight NUMBER] [--unit kg|g|t] [--unstable N] [--line TEXT]...\n"
    "                 [--interval MS] [--wire-speed] [--drip MS] [--unread wait|queue|drop]\n"
    "                 [--pack RULE[,RULE]...]\n"
    "                 [--enq-reply ack|nak|none] [--reply-bytes N]\n"
    "                 [--stop-after BYTES] [--disconnect-after BYTES]\n"
    "                 [--reset-on-request] [--flood] [--received FILE]\n"
    "                 [--sent FILE] [--control] [--lifetime SECONDS]\n"
    "--tcp: PORT 0..65535, 0 or none for any free port; --lifetime: 300 unless given,\n"
    "then scale-sim says so on stderr and ends.\n"
    "--unread: what a streaming scale does while its peer takes nothing: waits (the default),\n"
    "queues its lines (64 KB at most; --sent stamps them when made), or drops them (a wire).\n"
    "--pack: what a serial-to-network converter or a virtual COM port between the scale and\n"
    "its peer does: it gathers the scale's bytes into packs and hands each pack over whole when\n"
    "  gap:MS    the scale has been quiet for MS ms\n"
    "  bytes:N   it holds N bytes\n"
    "  lines:N   it holds N whole lines\n"
    "  delim:X   it has taken byte X (cr, lf or two hex digits), which ends the pack\n"
    "  timer:MS  MS ms have passed since the pack's first byte\n"
    "whichever comes first, and 250 ms after the pack's first byte in any case (a\n"
    "converter's force-transmit time); on --tcp and --pty alike. Without it, each line\n"
    "goes alone.\n"
    "--sent FILE: each line as 'FIRST LAST MADE TEXT': when its first and last byte were\n"
    "handed to the peer and when the scale made it (monotonic ns); notes as '# WHAT'.\n"
    "--control: commands on standard input, each answered 'ok', or 'refused' with the\n"
    "reason on stderr: weight TEXT, unit kg|g|t, unstable N, junk N,\n"
    "mode stream|request|silent, drip MS, interval MS, burst N, flood MS,\n"
    "unread wait|queue|drop, pack RULE[,RULE]... or pack off, disconnect, reset,\n"
    "off (switched off: TCP connections close and are refused, a pty goes silent), on.\n"
    "SIGUSR1 switches between stream and request mode.\n"
    "--attach: connects to a listening local socket, such as a virtual machine's serial\n"
    "port, and is the scale on it.\n"
    "Prints 'tcp HOST PORT', 'pty PATH' and/or 'attached SOCKET', then serves.\n"
    "exit status: 0 when its lifetime ends or on SIGINT or SIGTERM, 1 when it cannot\n"
    "listen or make a pseudo-terminal, 2 usage\n";

bool ParseUnread(const std::string& v, Unread* u) {
  if (v == "wait") *u = Unread::Wait;
  else if (v == "queue") *u = Unread::Queue;
  else if (v == "drop") *u = Unread::Drop;
  else return false;
  return true;
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

// A whole number within lo..hi, with nothing around it.
template <typename T>
bool Number(const std::string& text, long long lo, long long hi, T* out) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("-0123456789") != std::string::npos) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < lo || v > hi) return false;
  *out = static_cast<T>(v);
  return true;
}

std::string Range(const std::string& option, long long lo, long long hi) {
  return option + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
}

// Four decimal numbers from 0 to 255: the address to listen on.
bool Ipv4(const std::string& host) {
  std::istringstream parts(host);
  int count = 0;
  for (std::string part; std::getline(parts, part, '.'); ++count) {
    int n = 0;
    if (part.size() > 3 || !Number(part, 0, 255, &n) || part[0] == '-') return false;
  }
  return count == 4 && host.back() != '.';
}

bool Known(const std::string& option) {
  static const char* const kOptions[] = {
      "--help", "-h", "--tcp", "--pty", "--reset-on-request", "--flood", "--control", "--wire-speed", "--host",
      "--mode", "--weight", "--unit", "--unstable", "--line", "--attach", "--unread", "--interval", "--drip",
      "--reply-bytes", "--stop-after", "--disconnect-after", "--lifetime", "--received", "--sent", "--enq-reply",
      "--pack"};
  for (const char* known : kOptions) {
    if (option == known) return true;
  }
  return false;
}

// Empty, or what is wrong with the arguments in one line.
std::string ParseArgs(int argc, char** argv, Options* o, bool* help) {
  constexpr long long kMany = 1000000000;
  std::set<std::string> given;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    const std::string v = hasValue ? argv[i + 1] : "";
    auto take = [&] { ++i; return v; };
    if (a.compare(0, 1, "-") == 0 && !Known(a)) return "unknown option '" + a + "'";
    // Each option says one thing: only --line adds a line each time.
    if (a != "--line" && !given.insert(a == "--stop-after" ? "--disconnect-after" : a).second) {
      return a == "--stop-after" || a == "--disconnect-after" ? "give --stop-after or --disconnect-after once"
                                                               : a + " is given twice";
    }
    if (a == "--help" || a == "-h") {
      *help = true;
    } else if (a == "--tcp") {
      o->tcp = true;
      if (hasValue && v[0] != '-' && !Number(take(), 0, 65535, &o->port)) return Range("--tcp", 0, 65535);
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
    } else if (a.compare(0, 2, "--") != 0) {
      return "unexpected argument '" + a + "'";
    } else if (!hasValue) {
      return a + " needs a value";
    } else if (a == "--host") {
      if (!Ipv4(o->host = take())) return "--host '" + o->host + "' is no IPv4 address (four numbers from 0 to 255)";
    }
    else if (a == "--mode") { if (!ParseMode(take(), o)) return "--mode is stream, request, silent, junk-short or junk-long"; }
    else if (a == "--weight") {
      const std::string problem = sim::WeightProblem(o->scale.weight = take());
      if (!problem.empty()) return "--" + problem;
    }
    else if (a == "--unit") {
      o->scale.unit = take();
      if (o->scale.unit != "kg" && o->scale.unit != "g" && o->scale.unit != "t") return "--unit is kg, g or t";
    }
    else if (a == "--unstable") { if (!Number(take(), 0, kMany, &o->scale.unstableLines)) return Range(a, 0, kMany); }
    else if (a == "--line") o->scale.lines.push_back(take());
    else if (a == "--attach") o->attach = take();
    else if (a == "--unread") { if (!ParseUnread(take(), &o->unread)) return "--unread is wait, queue or drop"; }
    else if (a == "--pack") {
      const std::string problem = sim::ParsePack(take(), &o->pack);
      if (!problem.empty()) return problem;
    }
    else if (a == "--interval") { if (!Number(take(), 1, 60000, &o->intervalMs)) return Range(a, 1, 60000); }
    else if (a == "--drip") { if (!Number(take(), 0, 60000, &o->byteGapUs)) return Range(a, 0, 60000); o->byteGapUs *= 1000; }
    else if (a == "--reply-bytes") { if (!Number(take(), 0, 64, &o->scale.replyBytes)) return Range(a, 0, 64); }
    else if (a == "--stop-after") { if (!Number(take(), 0, kMany, &o->quitAfter)) return Range(a, 0, kMany); }
    else if (a == "--disconnect-after") {
      if (!Number(take(), 0, kMany, &o->quitAfter)) return Range(a, 0, kMany);
      o->disconnect = true;
    }
    else if (a == "--lifetime") { if (!Number(take(), 1, 86400 * 7, &o->lifetimeS)) return Range(a, 1, 86400 * 7); }
    else if (a == "--received") o->received = take();
    else if (a == "--sent") o->sent = take();
    else if (a == "--enq-reply") {
      const std::string r = take();
      if (r == "ack") o->scale.enqReply = sim::EnqReply::Ack;
      else if (r == "nak") o->scale.enqReply = sim::EnqReply::Nak;
      else if (r == "none") o->scale.enqReply = sim::EnqReply::None;
      else return "--enq-reply is ack, nak or none";
    }
  }
  if (!o->tcp && !o->pty && o->attach.empty()) o->tcp = true;
  return "";
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
  bool stalled = false;    // the peer took nothing at the last write
  sim::LineOut line = {};  // the line going out, for the --sent file
  size_t paced = 0;        // the last this many bytes of out go at the drip's pace
  sim::Packer packer{sim::PackRule{}};
  std::vector<std::string> packs = {};  // packs ready, the first maybe begun
};

class Server {
 public:
  explicit Server(const Options& o) : o_(o), log_(o.sent) {}

  bool Start() {
    if (o_.tcp && !Listen()) return false;
    if (o_.pty && !OpenPty()) return false;
    if (!o_.attach.empty() && !Attach()) return false;
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
      for (auto& p : peers_) {
        if (!off_) Produce(*p);
      }
      Reap();
      Reattach();
    }
    if (!g_stop) std::fprintf(stderr, "scale-sim: its lifetime of %d s has ended (--lifetime)\n", o_.lifetimeS);
  }

 private:
  bool Listen() {
    listener_ = sim::io::Listen(o_.host, o_.port, &bound_);
    if (listener_ == sim::io::kNoFd) return false;
    std::printf("tcp %s %d\n", o_.host.c_str(), bound_);
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

  bool Attach() {
    const sim::io::Fd fd = sim::io::ConnectLocal(o_.attach, true);
    if (fd == sim::io::kNoFd) return false;
    std::printf("attached %s\n", o_.attach.c_str());
    AddPeer(fd, false);
    return true;
  }

  // A scale on a machine's serial port stays on its wire while the port's
  // device is pulled out and plugged in again: it attaches again.
  void Reattach() {
    if (o_.attach.empty() || !peers_.empty() || Clock::now() < nextAttach_) return;
    nextAttach_ = Clock::now() + std::chrono::milliseconds(100);
    const sim::io::Fd fd = sim::io::ConnectLocal(o_.attach, false);
    if (fd == sim::io::kNoFd) return;
    AddPeer(fd, false);
    log_.Note("attached again");
  }

  void AddPeer(sim::io::Fd fd, bool isPty) {
    const auto now = Clock::now();
    peers_.push_back(std::unique_ptr<Peer>(new Peer{{fd, isPty}, sim::Scale(o_.scale), "", "", now, now}));
    peers_.back()->packer = sim::Packer(o_.pack);
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
    if (n > 0 && o_.scale.mode == sim::Mode::Request && !off_) Queue(p, p.scale.Answer(buf, static_cast<size_t>(n)));
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
      const std::string line = commands_.substr(0, end);
      commands_.erase(0, end + 1);
      const sim::Command c = sim::ParseCommand(line);
      if (c.kind == sim::Command::Unknown) {
        std::fprintf(stderr, "scale-sim: cannot take '%s': %s\n", line.c_str(), c.why.c_str());
        std::fputs("refused\n", stdout);
      } else {
        log_.Note(line);
        Apply(c);
        std::fputs("ok\n", stdout);
      }
      std::fflush(stdout);
    }
  }

  void SetMode(const std::string& mode) {
    if (mode == "stream") o_.scale.mode = sim::Mode::Stream;
    if (mode == "request") o_.scale.mode = sim::Mode::Request;
    if (mode == "silent") o_.scale.mode = sim::Mode::Silent;
    for (auto& p : peers_) Drop(*p);
  }

  // What waits on the scale's side and in its converter is gone.
  void Drop(Peer& p) {
    p.out.clear();
    p.packer.Clear();
    p.packs.clear();
    log_.Abandoned(p.line);
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
    if (c.kind == K::Unread && ParseUnread(c.text, &o_.unread)) {
      for (auto& p : peers_) Drop(*p);
    }
    if (c.kind == K::Pack) {
      sim::ParsePack(c.text, &o_.pack);  // checked when the command was read; "off" leaves none
      for (auto& p : peers_) {
        std::vector<std::string> last;
        p->packer.Tick(Clock::time_point::max(), &last);  // what it held goes now
        p->packs.insert(p->packs.end(), last.begin(), last.end());
        p->packer = sim::Packer(o_.pack);
      }
    }
    if (c.kind == K::Drip) o_.byteGapUs = c.number * 1000;
    if (c.kind == K::Interval) {
      o_.intervalMs = static_cast<int>(c.number);
      // A line due later than the new interval allows comes sooner.
      for (auto& p : peers_) p->nextLine = std::min(p->nextLine, now + std::chrono::milliseconds(c.number));
    }
    if (c.kind == K::Flood) floodUntil_ = now + std::chrono::milliseconds(c.number);
    if (c.kind == K::Off || c.kind == K::On) Switch(c.kind == K::On);
  }

  // A scale switched off: its converter takes no connections and ends the
  // ones it has; a serial port stays, with nothing on it. Switched on, it
  // listens on the same port again.
  void Switch(bool on) {
    off_ = !on;
    for (auto& p : peers_) {
      Drop(*p);
      if (!on && !p->end.pty) p->closed = true;
    }
    if (!on && listener_ != sim::io::kNoFd) {
      sim::io::Close({listener_, false});
      listener_ = sim::io::kNoFd;
    }
    if (on && o_.tcp && listener_ == sim::io::kNoFd) listener_ = sim::io::Listen(o_.host, bound_, &bound_);
  }

  bool Flooding(Clock::time_point now) const { return o_.flood || now < floodUntil_; }

  // Stream and request mode trade places (on SIGUSR1).
  void SwitchMode() {
    if (o_.scale.mode == sim::Mode::Stream) {
      o_.scale.mode = sim::Mode::Request;
    } else if (o_.scale.mode == sim::Mode::Request) {
      o_.scale.mode = sim::Mode::Stream;
    }
    for (auto& p : peers_) Drop(*p);
  }

  // Bytes queued after a pause go out at the pace from now on, not in a
  // burst that makes up for the pause; at wire speed a byte is there only
  // once its ten bits have crossed the line.
  // A queueing scale's lines are sent, for --sent, when it makes them: they
  // wait on its side. Anything else is stamped when it is written.
  // The drip paces what the scale sends now (a reply, a burst, the line
  // due). What waited on its side (the lines a queueing scale made while
  // its peer took nothing, a flood) goes out as fast as the peer takes it,
  // as from a converter's buffer: never a backlog at a live scale's pace.
  enum class Pace { Paced, Newest, Bulk };
  void Queue(Peer& p, const std::string& bytes, Pace pace = Pace::Paced) {
    if (p.out.empty()) p.nextByte = Clock::now() + Micros(o_.byteGapUs);
    p.paced = pace == Pace::Paced ? std::min(p.paced, p.out.size()) + bytes.size() : pace == Pace::Newest ? bytes.size() : 0;
    p.out += bytes;
    // Lines that wait because the peer takes nothing, and a flood's, are
    // made now; what the scale sends now is made as it goes out.
    const long long made = pace == Pace::Paced ? sim::kMadeWhenWritten : sim::SentLog::Now();
    log_.Made(p.line, bytes.data(), bytes.size(), made);
  }

  // The next stream line, when it is due and the scale makes it (see
  // Unread). A scale sends its lines no faster than its own pace (the
  // interval, the drip): only a peer that takes nothing makes it queue them,
  // or lose them.
  void MakeStreamLine(Peer& p, Clock::time_point now) {
    const bool unread = (p.stalled && !(p.out.empty() && p.packs.empty())) || sim::io::Unread(p.end) > 0;
    const bool waiting = !p.out.empty() || !p.packs.empty();
    if (now < p.nextLine || (waiting && (o_.unread == Unread::Wait || !unread))) return;
    p.nextLine = now + std::chrono::milliseconds(o_.intervalMs);
    const std::string line = p.scale.NextStreamLine();
    size_t held = p.out.size();
    for (const std::string& pack : p.packs) held += pack.size();
    const bool room = o_.unread == Unread::Queue  ? held + line.size() <= kQueueLimit
                      : o_.unread == Unread::Drop ? !unread
                                                  : true;
    if (room) Queue(p, line, o_.unread == Unread::Queue && unread ? Pace::Newest : Pace::Paced);
  }

  bool Quit(const Peer& p) const { return o_.quitAfter >= 0 && p.sent >= o_.quitAfter; }

  // Queues the next stream line when due and sends what the pacing allows.
  void Produce(Peer& p) {
    const auto now = Clock::now();
    if (Quit(p)) {
      p.out.clear();
      p.packer.Tick(Clock::time_point::max(), &p.packs);  // what the converter holds still goes
      HandPacks(p);
      if (o_.disconnect && !p.end.pty) p.closed = true;
      return;
    }
    if (o_.scale.mode == sim::Mode::Stream && Flooding(now)) {
      if (p.flood.empty()) {
        while (p.flood.size() < kFloodBlock) p.flood += p.scale.NextStreamLine();
      }
      while (p.out.size() < kFloodQueued) Queue(p, p.flood, Pace::Bulk);
    } else if (o_.scale.mode == sim::Mode::Stream) {
      MakeStreamLine(p, now);
    }
    if (p.out.empty()) p.nextByte = now;
    while (!p.out.empty() && now >= p.nextByte && !Quit(p)) {
      const size_t waited = p.out.size() - std::min(p.paced, p.out.size());
      size_t chunk = waited > 0 ? waited : o_.byteGapUs > 0 ? 1 : p.out.size();
      if (o_.quitAfter >= 0) chunk = std::min<size_t>(chunk, static_cast<size_t>(o_.quitAfter - p.sent));
      const long n = Send(p, p.out.data(), chunk);
      if (n <= 0 && o_.unread == Unread::Drop) {  // a wire: what is not taken is lost
        Drop(p);
        break;
      }
      if (n <= 0) {  // the queue is full: try again later (at once when flooding)
        p.nextByte = now + Micros(Flooding(now) ? 200 : 5000);
        NoteStall(p, true);
        break;
      }
      p.out.erase(0, static_cast<size_t>(n));
      p.paced = std::min(p.paced, p.out.size());
      p.sent += n;
      if (o_.byteGapUs > 0 && waited == 0) p.nextByte += Micros(o_.byteGapUs);
    }
    p.packer.Tick(now, &p.packs);
    HandPacks(p);
    if (Quit(p)) Produce(p);
  }

  // Bytes the scale sends now: written to its peer, or taken in by the
  // converter behind it (--pack). How many went; 0 or less when none could.
  long Send(Peer& p, const char* bytes, size_t count) {
    const long long began = sim::SentLog::Now();
    if (o_.pack.on()) {
      log_.Entered(p.line, bytes, count, began);
      p.packer.Take(bytes, count, Clock::now(), &p.packs);
      return static_cast<long>(count);
    }
    const long n = sim::io::Write(p.end, bytes, count);
    if (n > 0) {
      NoteStall(p, false);
      log_.Wrote(p.line, bytes, static_cast<size_t>(n), began);
    }
    return n;
  }

  // The converter hands over its packs, each in one write. A wire loses a
  // pack the peer does not take; otherwise it waits.
  void HandPacks(Peer& p) {
    while (!p.packs.empty()) {
      std::string& pack = p.packs.front();
      const long long began = sim::SentLog::Now();
      const long n = sim::io::Write(p.end, pack.data(), pack.size());
      if (n <= 0 && o_.unread == Unread::Drop) {
        log_.Lost(p.line, pack.data(), pack.size());
        p.packs.erase(p.packs.begin());
        continue;
      }
      if (n <= 0) {
        NoteStall(p, true);
        return;
      }
      NoteStall(p, false);
      log_.Wrote(p.line, pack.data(), static_cast<size_t>(n), began);
      pack.erase(0, static_cast<size_t>(n));
      if (pack.empty()) p.packs.erase(p.packs.begin());
    }
  }

  // A peer that stops taking bytes builds a backlog, which the --sent file
  // shows: the lines written after it takes bytes again waited on the way.
  void NoteStall(Peer& p, bool stalled) {
    if (p.stalled == stalled) return;
    p.stalled = stalled;
    log_.Note(stalled ? "the peer takes no more bytes: a backlog builds up" : "the peer takes bytes again");
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
      if (!p->packs.empty()) wait = std::min(wait, Micros(5000));  // a peer that took no pack
      if (p->packer.Due() != Clock::time_point::max())
        wait = std::min(wait, std::chrono::duration_cast<Micros>(p->packer.Due() - now));
      // The next line is queued only once the last has gone: while a peer
      // that does not read holds it up, the line falls due in the past, and
      // counting it would never let the loop sleep.
      if (o_.scale.mode == sim::Mode::Stream && ((p->out.empty() && p->packs.empty()) || o_.unread != Unread::Wait))
        wait = std::min(wait, std::chrono::duration_cast<Micros>(p->nextLine - now));
    }
    return wait.count() < 0 ? 0 : static_cast<long>(wait.count());
  }

  Options o_;
  sim::SentLog log_;
  std::string commands_;
  Clock::time_point floodUntil_{};
  Clock::time_point nextAttach_{};
  sim::io::Fd listener_ = sim::io::kNoFd;
  int bound_ = 0;     // the TCP port it listens on
  bool off_ = false;  // switched off (--control off)
  std::vector<std::unique_ptr<Peer>> peers_;
};

void OnStop() { g_stop = true; }
void OnSwitch() { g_switch = true; }

}  // namespace

int main(int argc, char** argv) {
  Options o;
  bool help = false;
  const std::string wrong = ParseArgs(argc, argv, &o, &help);
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!wrong.empty()) {
    std::fprintf(stderr, "scale-sim: %s (scale-sim --help shows the usage)\n", wrong.c_str());
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
