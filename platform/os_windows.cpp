// Windows implementation of the operating-system layer: the Win32 serial
// functions, Winsock 2.2, GetTickCount and Sleep.

#include "platform/os.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#undef Yield  // an obsolete Win16 macro that would swallow os::Yield

#include <cstdio>

namespace os {

uint32_t Tick() { return static_cast<uint32_t>(GetTickCount()); }
void Sleep(uint32_t ms) { ::Sleep(ms); }
void Yield() { ::Sleep(0); }

// ---- serial ports ---------------------------------------------------------

namespace {

// com1..com9, then \\.\com10 .. \\.\com256 (the only form Windows accepts
// for two- and three-digit port numbers).
bool DeviceName(int port, char* name, std::size_t size) {
  if (port < 1 || port > kMaxPort) return false;
  const int written = std::snprintf(name, size, port <= 9 ? "com%d" : "\\\\.\\com%d", port);
  return written > 0 && static_cast<std::size_t>(written) < size;
}

HANDLE OpenDevice(int port, DWORD sharing) {
  char name[16];
  if (!DeviceName(port, name, sizeof name)) return INVALID_HANDLE_VALUE;
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE H(SerialPort port) { return static_cast<HANDLE>(port); }

}  // namespace

PortPresence ProbeSerial(int port) {
  const HANDLE h = OpenDevice(port, FILE_SHARE_READ);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return PortPresence::Present;
  }
  return GetLastError() == ERROR_ACCESS_DENIED ? PortPresence::Held : PortPresence::Absent;
}

SerialPort OpenSerial(int port) {
  const HANDLE h = OpenDevice(port, 0);
  return h == INVALID_HANDLE_VALUE ? nullptr : static_cast<SerialPort>(h);
}

bool ConfigureSerial(SerialPort port, const LineSettings& line) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(H(port), &dcb)) return false;
  dcb.BaudRate = static_cast<DWORD>(line.baudRate);
  dcb.ByteSize = line.byteSize;
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!SetCommState(H(port), &dcb)) return false;
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(H(port), &timeouts)) return false;
  COMMTIMEOUTS none{};  // reads and writes wait without a time-out
  if (!SetCommTimeouts(H(port), &none)) return false;
  return PurgeSerial(port);
}

bool PurgeSerial(SerialPort port) { return PurgeComm(H(port), PURGE_TXCLEAR | PURGE_RXCLEAR) != 0; }

bool SetSerialEvents(SerialPort port, uint32_t events) {
  DWORD mask = 0;
  if (events & kEventRxChar) mask |= EV_RXCHAR;
  if (events & kEventTxEmpty) mask |= EV_TXEMPTY;
  return SetCommMask(H(port), mask) != 0;
}

bool SerialQueued(SerialPort port, uint32_t* bytes) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(H(port), &errors, &stat)) return false;
  *bytes = stat.cbInQue;
  return true;
}

bool SerialReadOne(SerialPort port, uint8_t* byte) {
  DWORD got = 0;
  return ReadFile(H(port), byte, 1, &got, nullptr) && got == 1;
}

bool SerialWrite(SerialPort port, const uint8_t* bytes, uint32_t count) {
  DWORD written = 0;
  return WriteFile(H(port), bytes, count, &written, nullptr) && written == count;
}

bool SerialWaitEvent(SerialPort port, uint32_t* events) {
  DWORD mask = 0;
  if (!WaitCommEvent(H(port), &mask, nullptr)) return false;
  *events = ((mask & EV_RXCHAR) ? kEventRxChar : 0u) | ((mask & EV_TXEMPTY) ? kEventTxEmpty : 0u);
  return true;
}

bool CloseSerial(SerialPort port) { return CloseHandle(H(port)) != 0; }

// ---- sockets ----------------------------------------------------------------

bool NetStartup() {
  WSADATA data{};
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() { WSACleanup(); }

Socket TcpConnect(const char* host, const char* service) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr) return kNoSocket;
  SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (s != INVALID_SOCKET && connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == SOCKET_ERROR) {
    closesocket(s);
    s = INVALID_SOCKET;
  }
  freeaddrinfo(found);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

namespace {
bool Select(Socket s, bool forWrite, uint32_t microseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(s), &set);
  timeval limit{0, static_cast<long>(microseconds)};
  return select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit) > 0;
}
}  // namespace

bool SocketReadable(Socket s, uint32_t microseconds) { return Select(s, false, microseconds); }
bool SocketWritable(Socket s, uint32_t microseconds) { return Select(s, true, microseconds); }

int SocketReceive(Socket s, uint8_t* buffer, int size) {
  return recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(buffer), size, 0);
}

int SocketSend(Socket s, const uint8_t* bytes, int count) {
  const int sent = send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(bytes), count, 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

void SocketShutdown(Socket s) { shutdown(static_cast<SOCKET>(s), SD_BOTH); }
void SocketClose(Socket s) { closesocket(static_cast<SOCKET>(s)); }

}  // namespace os
