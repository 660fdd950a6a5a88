// The environment, the trace file, the clock it is stamped with and the
// system's error texts, on Windows.

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/os.h"
#include "platform/owner_only_windows.h"

namespace os {

bool EnvironmentText(const char* name, char* value, std::size_t size) {
  const DWORD n = GetEnvironmentVariableA(name, value, static_cast<DWORD>(size));
  return n > 0 && n < size;
}

namespace {

// A name the system resolves to a device ("CON", "COM1", "NUL", a pipe
// "\\.\pipe\x") rather than to a file on a volume: never opened.
bool NamesADevice(const char* path) {
  char full[MAX_PATH + 16];
  const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return true;
  return std::strncmp(full, "\\\\.\\", 4) == 0 || std::strncmp(full, "\\\\?\\", 4) == 0;
}

// The trace file for appending, or INVALID_HANDLE_VALUE. A link (reparse
// point) is opened as itself and refused, as are folders and anything that
// is not a file on a disk. A new file is its creator's alone.
HANDLE OpenTraceFile(const char* path, DWORD access, ULONGLONG* size) {
  if (NamesADevice(path)) return INVALID_HANDLE_VALUE;
  OwnerOnly owner;
  const HANDLE file = CreateFileA(path, access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  owner.get(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD notAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & notAFile) != 0) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  *size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return file;
}

// The roll-over's lock: one byte far past any end of the file, so that it
// never stands in the way of a write. Waited for up to 100 ms: another
// writer holds it only for the moment of a roll-over.
bool LockRollOver(HANDLE file, OVERLAPPED* at) {
  *at = OVERLAPPED{};
  at->OffsetHigh = 0x7FFFFFFF;
  for (int tries = 0; tries < 100; ++tries) {
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, at)) return true;
    ::Sleep(1);
  }
  return false;
}

// Moves the full file aside to path.1 under the lock, if it is still full
// once the lock is held (another writer may have rolled it over meanwhile).
// When it cannot be moved (.1 held open, a folder the service may not
// rename in), the file starts afresh with a line that says so.
void RollOver(const char* path, HANDLE file, std::size_t length, uint64_t limit) {
  OVERLAPPED lock{};
  if (!LockRollOver(file, &lock)) return;
  ULONGLONG size = 0;
  HANDLE named = OpenTraceFile(path, FILE_WRITE_DATA, &size);
  BY_HANDLE_FILE_INFORMATION mine{}, theirs{};
  const bool same = named != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &mine) &&
                    GetFileInformationByHandle(named, &theirs) && mine.nFileIndexHigh == theirs.nFileIndexHigh &&
                    mine.nFileIndexLow == theirs.nFileIndexLow && mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber;
  char older[MAX_PATH + 16];
  const int n = std::snprintf(older, sizeof older, "%s.1", path);
  if (same && size + length > limit && n > 0 && static_cast<std::size_t>(n) < sizeof older &&
      !MoveFileExA(path, older, MOVEFILE_REPLACE_EXISTING)) {
    char why[160], note[MAX_PATH * 2 + 256];
    LastErrorText(why, sizeof why);
    const int noted = std::snprintf(note, sizeof note, "trace: cannot move %s aside to %s (%s): the file starts afresh\r\n",
                                    path, older, why);
    DWORD written = 0;
    if (SetFilePointer(named, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(named) && noted > 0) {
      WriteFile(named, note, static_cast<DWORD>(std::strlen(note)), &written, nullptr);
    }
  }
  if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
  UnlockFileEx(file, 0, 1, 0, &lock);
}

}  // namespace

bool AppendTrace(const char* path, const char* text, std::size_t length, uint64_t limit) {
  ULONGLONG size = 0;
  HANDLE file = OpenTraceFile(path, FILE_APPEND_DATA, &size);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (size > 0 && size + length > limit) {
    RollOver(path, file, length, limit);
    CloseHandle(file);
    file = OpenTraceFile(path, FILE_APPEND_DATA, &size);
    if (file == INVALID_HANDLE_VALUE) return false;
  }
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
