// The trace file, the clock it is stamped with and the system's error texts,
// on Windows.

#include <windows.h>

#include <cstdio>

#include "platform/os.h"

namespace os {

bool TracePath(char* path, std::size_t size) {
  const DWORD n = GetEnvironmentVariableA("PESOLAN_TRACE", path, static_cast<DWORD>(size));
  return n > 0 && n < size;
}

bool AppendToFile(const char* path, const char* text, std::size_t length) {
  const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
  return ok && written == length;
}

void LocalTimeText(char* text, std::size_t size) {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  std::snprintf(text, size, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
}

void LastErrorText(char* text, std::size_t size) {
  const DWORD error = GetLastError();
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                 static_cast<DWORD>(size), nullptr);
  if (n == 0) {
    std::snprintf(text, size, "error %lu", static_cast<unsigned long>(error));
    return;
  }
  // The system's messages end with a line break.
  for (DWORD i = n; i > 0 && (text[i - 1] == '\r' || text[i - 1] == '\n' || text[i - 1] == '.'); --i) text[i - 1] = '\0';
}

}  // namespace os
