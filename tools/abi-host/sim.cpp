#include "sim.h"

namespace {

constexpr unsigned kMaxPath = 1024;

void Append(wchar_t* to, unsigned* at, const wchar_t* text) {
  while (*text != 0 && *at + 1 < 2 * kMaxPath) to[(*at)++] = *text++;
  to[*at] = 0;
}

// "tcp 127.0.0.1 4000\n" -> 4000.
long PortOf(const char* line) {
  const char* last = line;
  for (const char* c = line; *c != 0; ++c) {
    if (*c == ' ') last = c + 1;
  }
  long port = 0;
  for (; *last >= '0' && *last <= '9'; ++last) port = port * 10 + (*last - '0');
  return port;
}

}  // namespace

Sim::Sim(const wchar_t* args) {
  wchar_t self[kMaxPath];
  const DWORD n = GetModuleFileNameW(nullptr, self, kMaxPath);
  if (n == 0 || n >= kMaxPath) return;
  unsigned dir = n;
  while (dir > 0 && self[dir - 1] != L'\\' && self[dir - 1] != L'/') --dir;
  self[dir] = 0;
  wchar_t command[2 * kMaxPath];
  unsigned at = 0;
  command[0] = 0;
  Append(command, &at, L"\"");
  Append(command, &at, self);
  Append(command, &at, L"scale-sim.exe\" --lifetime 120 --tcp ");
  Append(command, &at, args);

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, 1};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdOutput = writeEnd;
  start.hStdError = writeEnd;
  PROCESS_INFORMATION info = {};
  const BOOL started = CreateProcessW(nullptr, command, nullptr, nullptr, 1, 0, nullptr, nullptr, &start, &info);
  CloseHandle(writeEnd);
  if (started) {
    process_ = info.hProcess;
    CloseHandle(info.hThread);
    char line[128];
    unsigned got = 0;
    DWORD one = 0;
    while (got + 1 < sizeof line && ReadFile(readEnd, &line[got], 1, &one, nullptr) && one == 1 &&
           line[got] != '\n') {
      ++got;
    }
    line[got] = '\0';
    port_ = PortOf(line);
  }
  CloseHandle(readEnd);
}

void Sim::Stop() {
  if (process_ == nullptr) return;
  TerminateProcess(process_, 0);
  WaitForSingleObject(process_, 5000);
  CloseHandle(process_);
  process_ = nullptr;
}
