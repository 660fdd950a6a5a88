#include "bench_os.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

namespace bench {
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

double Ms(const FILETIME& t) {
  const ULONGLONG hundredNs = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return static_cast<double>(hundredNs) / 10000.0;
}

}  // namespace

Sim::Sim(const std::string& path, std::vector<std::string> args) {
  std::string command = "\"" + path + "\"";
  for (const std::string& a : args) command += " \"" + a + "\"";
  command += " --lifetime 600";
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
    std::string line;
    char host[64];
    int port = 0;
    if (ReadLine(readEnd, &line) && std::sscanf(line.c_str(), "tcp %63s %d", host, &port) == 2) port_ = port;
  }
  CloseHandle(readEnd);
}

Sim::~Sim() {
  if (process_ == nullptr) return;
  TerminateProcess(static_cast<HANDLE>(process_), 0);
  WaitForSingleObject(static_cast<HANDLE>(process_), 5000);
  CloseHandle(static_cast<HANDLE>(process_));
}

double CpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  return Ms(kernel) + Ms(user);
}

double NowMs() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string Machine() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return std::to_string(info.dwNumberOfProcessors) + " processors, Windows x64 (under Wine when measured by make bench)";
}

bool PlacePty(const std::string&) { return false; }
void RemovePty() {}

}  // namespace bench
