#include "io.h"

#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>

namespace sim::io {
namespace {
SOCKET S(Fd fd) { return static_cast<SOCKET>(fd); }
void (*g_stopHandler)() = nullptr;
}  // namespace

bool Start() {
  WSADATA data{};
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Fd Listen(const std::string& host, int port, int* bound) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(port));
  if (s == INVALID_SOCKET || inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1 ||
      bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 512) != 0) {
    std::fprintf(stderr, "scale-sim: cannot listen on %s:%d: error %d\n", host.c_str(), port, WSAGetLastError());
    return kNoFd;
  }
  int len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  *bound = ntohs(addr.sin_port);
  return static_cast<Fd>(s);
}

Fd Accept(Fd listener) {
  const SOCKET s = accept(S(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoFd;
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  return static_cast<Fd>(s);
}

Fd OpenPty(std::string*) {
  std::fprintf(stderr, "scale-sim: no pseudo-terminals on Windows; use --tcp\n");
  return kNoFd;
}

long Read(const Endpoint& e, void* buffer, size_t size) {
  const int n = recv(S(e.fd), static_cast<char*>(buffer), static_cast<int>(size), 0);
  if (n > 0) return n;
  if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return -1;
  return 0;
}

long Write(const Endpoint& e, const void* bytes, size_t count) {
  const int n = send(S(e.fd), static_cast<const char*>(bytes), static_cast<int>(count), 0);
  return n > 0 ? n : -1;
}

long Unread(const Endpoint&) { return 0; }

Fd ConnectLocal(const std::string&, bool) { return kNoFd; }

void Close(const Endpoint& e) { closesocket(S(e.fd)); }

void Reset(const Endpoint& e) {
  const linger abort{1, 0};
  setsockopt(S(e.fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
  closesocket(S(e.fd));
}

void Wait(const std::vector<Endpoint>& endpoints, long timeoutUs, std::vector<bool>* ready) {
  fd_set set;
  FD_ZERO(&set);
  for (const Endpoint& e : endpoints) FD_SET(S(e.fd), &set);
  timeval wait{timeoutUs / 1000000, timeoutUs % 1000000};
  ready->assign(endpoints.size(), false);
  if (endpoints.empty()) {
    Sleep(static_cast<DWORD>(timeoutUs / 1000));
    return;
  }
  if (select(0, &set, nullptr, nullptr, &wait) <= 0) return;
  for (size_t i = 0; i < endpoints.size(); ++i) (*ready)[i] = FD_ISSET(S(endpoints[i].fd), &set) != 0;
}

namespace {
BOOL WINAPI OnConsoleControl(DWORD) {
  g_stopHandler();
  return TRUE;
}
}  // namespace

void OnStop(void (*handler)()) {
  g_stopHandler = handler;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void OnSwitch(void (*)()) {}

}  // namespace sim::io
