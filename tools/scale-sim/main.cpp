// scale-sim: a simulated scale for trying the driver without hardware.
// Listens on TCP (loopback by default) and/or offers a pseudo-terminal,
// streams weight lines or answers ENQ/DC1 requests, and can misbehave on
// purpose. It prints where it can be reached, then serves until its lifetime
// runs out or it receives SIGINT or SIGTERM.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "scale.h"

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
  int lifetimeS = 300;
};

volatile sig_atomic_t g_stop = 0;

void Usage() {
  std::fputs(
      "usage: scale-sim [--tcp [PORT]] [--host ADDR] [--pty]\n"
      "                 [--mode stream|request|silent|junk-short|junk-long]\n"
      "                 [--weight TEXT] [--unit kg|g|t] [--unstable N] [--line TEXT]...\n"
      "                 [--interval MS] [--wire-speed] [--drip MS]\n"
      "                 [--enq-reply ack|nak|none] [--reply-bytes N]\n"
      "                 [--stop-after BYTES] [--disconnect-after BYTES]\n"
      "                 [--lifetime SECONDS]\n"
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
  int fd;
  bool isPty;
  sim::Scale scale;
  std::string out;
  Clock::time_point nextByte;
  Clock::time_point nextLine;
  long sent = 0;
  bool closed = false;
};

class Server {
 public:
  explicit Server(const Options& o) : o_(o) {}

  bool Start() {
    if (o_.tcp && !Listen()) return false;
    if (o_.pty && !OpenPty()) return false;
    std::fflush(stdout);
    return true;
  }

  void Run() {
    const auto end = Clock::now() + std::chrono::seconds(o_.lifetimeS);
    while (!g_stop && Clock::now() < end) {
      std::vector<pollfd> fds;
      if (listener_ >= 0) fds.push_back({listener_, POLLIN, 0});
      for (auto& p : peers_) fds.push_back({p->fd, POLLIN, 0});
      const timespec wait = WaitTime();
      if (ppoll(fds.data(), fds.size(), &wait, nullptr) < 0 && errno != EINTR) break;
      size_t k = 0;
      if (listener_ >= 0 && (fds[k++].revents & POLLIN)) Accept();
      for (size_t i = 0; i < peers_.size() && k < fds.size(); ++i, ++k) {
        if (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) Receive(*peers_[i]);
      }
      for (auto& p : peers_) Produce(*p);
      Reap();
    }
  }

 private:
  bool Listen() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(o_.port));
    if (inet_pton(AF_INET, o_.host.c_str(), &addr.sin_addr) != 1 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener_, 512) != 0) {
      std::perror("scale-sim: tcp");
      return false;
    }
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("tcp %s %d\n", o_.host.c_str(), ntohs(addr.sin_port));
    return true;
  }

  bool OpenPty() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
      std::perror("scale-sim: pty");
      return false;
    }
    const char* path = ptsname(master);
    // Holding the other end open keeps the pair alive between the driver's
    // opens; raw mode stops the line discipline from echoing requests back.
    ptySlave_ = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    tcgetattr(ptySlave_, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(ptySlave_, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::printf("pty %s\n", path);
    AddPeer(master, true);
    return true;
  }

  void AddPeer(int fd, bool isPty) {
    const auto now = Clock::now();
    peers_.push_back(std::unique_ptr<Peer>(new Peer{fd, isPty, sim::Scale(o_.scale), "", now, now}));
  }

  void Accept() {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) AddPeer(fd, false);
  }

  void Receive(Peer& p) {
    uint8_t buf[256];
    const ssize_t n = read(p.fd, buf, sizeof buf);
    if (n > 0) {
      if (o_.scale.mode == sim::Mode::Request) p.out += p.scale.Answer(buf, static_cast<size_t>(n));
    } else if (!p.isPty && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
      p.closed = true;
    }
  }

  bool Quit(const Peer& p) const { return o_.quitAfter >= 0 && p.sent >= o_.quitAfter; }

  // Queues the next stream line when due and sends what the pacing allows.
  void Produce(Peer& p) {
    const auto now = Clock::now();
    if (Quit(p)) {
      p.out.clear();
      if (o_.disconnect && !p.isPty) p.closed = true;
      return;
    }
    if (o_.scale.mode == sim::Mode::Stream && p.out.empty() && now >= p.nextLine) {
      p.out = p.scale.NextStreamLine();
      p.nextLine = now + std::chrono::milliseconds(o_.intervalMs);
    }
    if (p.out.empty()) {
      p.nextByte = now;
      return;
    }
    while (!p.out.empty() && now >= p.nextByte && !Quit(p)) {
      size_t chunk = o_.byteGapUs > 0 ? 1 : p.out.size();
      if (o_.quitAfter >= 0) chunk = std::min<size_t>(chunk, static_cast<size_t>(o_.quitAfter - p.sent));
      const ssize_t n = write(p.fd, p.out.data(), chunk);
      if (n <= 0) {  // the pseudo-terminal's queue is full: try again later
        p.nextByte = now + Micros(5000);
        break;
      }
      p.out.erase(0, static_cast<size_t>(n));
      p.sent += n;
      if (o_.byteGapUs > 0) p.nextByte += Micros(o_.byteGapUs);
    }
    if (Quit(p)) Produce(p);
  }

  void Reap() {
    for (size_t i = 0; i < peers_.size();) {
      if (peers_[i]->closed) {
        close(peers_[i]->fd);
        peers_.erase(peers_.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
  }

  timespec WaitTime() const {
    auto wait = Micros(20000);  // also bounds how late a signal is noticed
    const auto now = Clock::now();
    for (const auto& p : peers_) {
      if (Quit(*p)) continue;
      if (!p->out.empty()) wait = std::min(wait, std::chrono::duration_cast<Micros>(p->nextByte - now));
      if (o_.scale.mode == sim::Mode::Stream)
        wait = std::min(wait, std::chrono::duration_cast<Micros>(p->nextLine - now));
    }
    if (wait.count() < 0) wait = Micros(0);
    return {static_cast<time_t>(wait.count() / 1000000), static_cast<long>(wait.count() % 1000000) * 1000L};
  }

  Options o_;
  int listener_ = -1;
  int ptySlave_ = -1;
  std::vector<std::unique_ptr<Peer>> peers_;
};

void OnSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, &o)) {
    Usage();
    return 2;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  Server server(o);
  if (!server.Start()) return 1;
  server.Run();
  return 0;
}
