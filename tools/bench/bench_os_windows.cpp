#include "bench_os.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>


namespace bench {
namespace {

double Ms(const FILETIME& t) {
  const ULONGLONG hundredNs = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return static_cast<double>(hundredNs) / 10000.0;
}

}  // namespace

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
