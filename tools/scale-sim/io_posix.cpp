#include "io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim::io {
namespace {
int F(Fd fd) { return static_cast<int>(fd); }
void (*g_stopHandler)() = nullptr;
void (*g_switchHandler)() = nullptr;
}  // namespace

bool Start() {
  signal(SIGPIPE, SIG_IGN);
  return true;
}

Fd Listen(const std::string& host, int port, int* bound) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1 ||
      bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 512) != 0) {
    std::fprintf(stderr, "scale-sim: cannot listen on %s:%d: %s\n", host.c_str(), port, std::strerror(errno));
    close(s);
    return kNoFd;
  }
  socklen_t len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  *bound = ntohs(addr.sin_port);
  return s;
}

Fd Accept(Fd listener) {
  const int fd = accept4(F(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  return fd >= 0 ? fd : kNoFd;
}

Fd ConnectLocal(const std::string& path, bool complain) {
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  if (path.size() >= sizeof at.sun_path) return kNoFd;
  path.copy(at.sun_path, sizeof at.sun_path - 1);
  const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0 || connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    if (complain) std::perror("scale-sim: attach");
    if (s >= 0) close(s);
    return kNoFd;
  }
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
  return s;
}

Fd OpenPty(std::string* path) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("scale-sim: pty");
    return kNoFd;
  }
  *path = ptsname(master);
  // Holding the other end open keeps the pair alive between the driver's
  // opens (it is never read); raw mode stops the line discipline from
  // echoing requests back.
  const int other = open(path->c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  tcgetattr(other, &tio);
  cfmakeraw(&tio);
  cfsetspeed(&tio, B9600);
  tcsetattr(other, TCSANOW, &tio);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  return master;
}

long Read(const Endpoint& e, void* buffer, size_t size) {
  const ssize_t n = read(F(e.fd), buffer, size);
  if (n > 0) return static_cast<long>(n);
  // A pseudo-terminal without its driver end reports errors: nobody there yet.
  if (e.pty || (n < 0 && (errno == EAGAIN || errno == EINTR))) return -1;
  return 0;
}

long Write(const Endpoint& e, const void* bytes, size_t count) {
  const ssize_t n = e.pty ? write(F(e.fd), bytes, count) : send(F(e.fd), bytes, count, MSG_NOSIGNAL);
  return n > 0 ? static_cast<long>(n) : -1;
}

long Unread(const Endpoint& e) {
  int queued = 0;
  return ioctl(F(e.fd), TIOCOUTQ, &queued) == 0 && queued > 0 ? queued : 0;
}

void Close(const Endpoint& e) { close(F(e.fd)); }

void Reset(const Endpoint& e) {
  const linger abort{1, 0};
  setsockopt(F(e.fd), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  close(F(e.fd));
}

void Wait(const std::vector<Endpoint>& endpoints, long timeoutUs, std::vector<bool>* ready) {
  std::vector<pollfd> fds;
  for (const Endpoint& e : endpoints) fds.push_back({F(e.fd), POLLIN, 0});
  const timespec wait{timeoutUs / 1000000, (timeoutUs % 1000000) * 1000};
  const int n = ppoll(fds.data(), fds.size(), &wait, nullptr);
  ready->assign(endpoints.size(), false);
  for (size_t i = 0; n > 0 && i < fds.size(); ++i) {
    (*ready)[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
}

void OnStop(void (*handler)()) {
  g_stopHandler = handler;
  struct sigaction sa {};
  sa.sa_handler = [](int) { g_stopHandler(); };
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

void OnSwitch(void (*handler)()) {
  g_switchHandler = handler;
  struct sigaction sa {};
  sa.sa_handler = [](int) { g_switchHandler(); };
  sigaction(SIGUSR1, &sa, nullptr);
}

}  // namespace sim::io
