// Windows: reaching a TCP scale, every step bounded. A host text is read as
// an address by the fixed rule of host_text.h; a host name is looked up
// with GetAddrInfoExW, asynchronously and cancelled when its time passes,
// where the system has it (Windows 8 and later), else with getaddrinfo; the
// connection is made without blocking and waited for with the time left.

#include "platform/host_text.h"
#include "platform/os.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace os {

HostText ReadHostText(const char* text, uint8_t address[4]) {
  if (ReadDecimalAddress(text, address)) return HostText::Address;
  if (DigitsAndDots(text) || inet_addr(text) != INADDR_NONE) return HostText::NotAnAddress;
  return HostText::Name;
}

namespace {

void ErrorText(int error, char* text, std::size_t size) {
  SetLastError(static_cast<DWORD>(error));
  LastErrorText(text, size);
}

bool FirstAddress(const sockaddr* address, int family, uint8_t out[4]) {
  if (family != AF_INET || address == nullptr) return false;
  std::memcpy(out, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
  return true;
}

// The asynchronous lookup, looked up at run time: Windows 7 has neither.
struct AsyncLookup {
  using Start = int(WSAAPI*)(PCWSTR, PCWSTR, DWORD, LPGUID, const ADDRINFOEXW*, PADDRINFOEXW*, timeval*,
                             LPOVERLAPPED, LPLOOKUPSERVICE_COMPLETION_ROUTINE, LPHANDLE);
  using Cancel = int(WSAAPI*)(LPHANDLE);
  using Result = int(WSAAPI*)(LPOVERLAPPED);
  using Free = void(WSAAPI*)(PADDRINFOEXW);
  Start start = nullptr;
  Cancel cancel = nullptr;
  Result result = nullptr;
  Free free = nullptr;
  AsyncLookup() {
    const HMODULE ws2 = GetModuleHandleA("ws2_32.dll");
    if (ws2 == nullptr) return;
    start = reinterpret_cast<Start>(reinterpret_cast<void*>(GetProcAddress(ws2, "GetAddrInfoExW")));
    cancel = reinterpret_cast<Cancel>(reinterpret_cast<void*>(GetProcAddress(ws2, "GetAddrInfoExCancel")));
    result = reinterpret_cast<Result>(reinterpret_cast<void*>(GetProcAddress(ws2, "GetAddrInfoExOverlappedResult")));
    free = reinterpret_cast<Free>(reinterpret_cast<void*>(GetProcAddress(ws2, "FreeAddrInfoExW")));
  }
  bool ok() const { return start != nullptr && cancel != nullptr && result != nullptr && free != nullptr; }
};

// One lookup's record, which the system writes into until it completes.
struct Pending {
  OVERLAPPED ov{};
  ADDRINFOEXW* found = nullptr;
  HANDLE cancel = nullptr;
};

bool ResolveUnbounded(const char* name, uint8_t address[4], char* why, std::size_t whySize) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(name, nullptr, &hints, &found);
  bool ok = error == 0 && found != nullptr && FirstAddress(found->ai_addr, found->ai_family, address);
  if (!ok) {
    char text[160];
    ErrorText(error != 0 ? error : WSAHOST_NOT_FOUND, text, sizeof text);
    std::snprintf(why, whySize, "the name does not resolve: %s", text);
  }
  if (found != nullptr) freeaddrinfo(found);
  return ok;
}

}  // namespace

bool ResolveHost(const char* name, uint32_t ms, uint8_t address[4], char* why, std::size_t whySize) {
  const AsyncLookup api;
  if (!api.ok()) return ResolveUnbounded(name, address, why, whySize);
  wchar_t wide[256];
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 256) == 0) {
    std::snprintf(why, whySize, "the name does not resolve: too long");
    return false;
  }
  Pending* p = new (std::nothrow) Pending;
  const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (p == nullptr || done == nullptr) {
    delete p;
    if (done != nullptr) CloseHandle(done);
    return ResolveUnbounded(name, address, why, whySize);
  }
  p->ov.hEvent = done;
  ADDRINFOEXW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  int error = api.start(wide, nullptr, NS_ALL, nullptr, &hints, &p->found, nullptr, &p->ov, nullptr, &p->cancel);
  if (error == WSA_IO_PENDING) {
    if (WaitForSingleObject(done, ms) != WAIT_OBJECT_0) {
      // Cancelled, the lookup completes at once; a resolver that cannot be
      // cancelled keeps its record, which then is left to it.
      api.cancel(&p->cancel);
      if (WaitForSingleObject(done, 1000) != WAIT_OBJECT_0) {
        std::snprintf(why, whySize, "the name does not resolve: timed out after %u ms", static_cast<unsigned>(ms));
        return false;
      }
      error = WSAETIMEDOUT;
    } else {
      error = api.result(&p->ov);
    }
  }
  const bool ok = error == 0 && p->found != nullptr && FirstAddress(p->found->ai_addr, p->found->ai_family, address);
  if (!ok && error == WSAETIMEDOUT) {
    std::snprintf(why, whySize, "the name does not resolve: timed out after %u ms", static_cast<unsigned>(ms));
  } else if (!ok) {
    char text[160];
    ErrorText(error != 0 ? error : WSAHOST_NOT_FOUND, text, sizeof text);
    std::snprintf(why, whySize, "the name does not resolve: %s", text);
  }
  if (p->found != nullptr) api.free(p->found);
  CloseHandle(done);
  delete p;
  return ok;
}

Socket TcpConnect(const uint8_t address[4], uint16_t port, uint32_t ms, char* why, std::size_t whySize) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr, address, 4);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    ErrorText(WSAGetLastError(), why, whySize);
    return kNoSocket;
  }
  u_long nonBlocking = 1;
  int error = ioctlsocket(s, FIONBIO, &nonBlocking) == 0 ? 0 : WSAGetLastError();
  if (error == 0 && connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000L};
      const int ready = select(0, nullptr, &writable, &failed, &limit);
      int soError = 0;
      int size = sizeof soError;
      if (ready == 0) {
        error = WSAETIMEDOUT;
      } else if (ready < 0) {
        error = WSAGetLastError();
      } else {
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size);
        error = FD_ISSET(s, &failed) && soError == 0 ? WSAECONNREFUSED : soError;
      }
    }
  }
  u_long blocking = 0;
  if (error == 0 && ioctlsocket(s, FIONBIO, &blocking) != 0) error = WSAGetLastError();
  if (error != 0) {
    if (error == WSAETIMEDOUT) {
      std::snprintf(why, whySize, "timed out after %u ms", static_cast<unsigned>(ms));
    } else {
      ErrorText(error, why, whySize);
    }
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<Socket>(s);
}

}  // namespace os
