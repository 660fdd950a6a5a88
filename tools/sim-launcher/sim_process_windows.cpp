#include "scale_sim_launcher.h"

#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace scale_sim {
namespace {

bool ReadLine(HANDLE pipe, std::string* line) {
  line->clear();
  for (;;) {
    char c;
    DWORD got = 0;
    if (!ReadFile(pipe, &c, 1, &got, nullptr) || got != 1) return false;
    if (c == '\n') return true;
    if (c != '\r') *line += c;
  }
}

}  // namespace

SimProcess::SimProcess(const std::string& program, std::vector<std::string> args, int lifetimeSeconds) {
  std::string command = "\"" + program + "\"";
  for (const std::string& a : args) command += " \"" + a + "\"";
  command += " --lifetime " + std::to_string(lifetimeSeconds);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdOutput = writeEnd;
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &info);
  CloseHandle(writeEnd);
  if (started) {
    process_ = info.hProcess;
    CloseHandle(info.hThread);
    pid_ = static_cast<long>(info.dwProcessId);
    std::string line;
    if (ReadLine(readEnd, &line)) {
      char host[64];
      int port = 0;
      if (std::sscanf(line.c_str(), "tcp %63s %d", host, &port) == 2) port_ = port;
    }
  }
  CloseHandle(readEnd);
}

SimProcess::~SimProcess() {
  if (process_ == nullptr) return;
  TerminateProcess(static_cast<HANDLE>(process_), 0);
  WaitForSingleObject(static_cast<HANDLE>(process_), 5000);
  CloseHandle(static_cast<HANDLE>(process_));
}

void SimProcess::SwitchMode() {}

ClosedTcpPort::ClosedTcpPort() {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port_ = ntohs(addr.sin_port);
  }
  socket_ = s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
}

ClosedTcpPort::~ClosedTcpPort() {
  if (socket_ >= 0) closesocket(static_cast<SOCKET>(socket_));
}

bool SimProcess::Command(const std::string&) { return false; }

bool AskBroker(const std::string&, std::string*) { return false; }

}  // namespace scale_sim
