// The serial ports on Windows: COM1..COM9, then \\.\COM10 and up.

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/os.h"
#include "ports.h"

#include "words.h"

namespace host {
namespace {

// The platform layer's rule for which device a COM number is.
std::string DeviceOf(int com) {
  char name[64] = "";
  os::SerialDeviceName(com, name, sizeof name);
  return name;
}

std::string SystemMessage(DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                 sizeof text, nullptr);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message.empty() ? "error " + std::to_string(error) : message;
}

PortState Look(int com) {
  PortState p{com, DeviceOf(com), "free", "", {}};
  const HANDLE h = CreateFileA(p.device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return p;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    p.state = "in use";
    p.detail = L("another program has it open");
  } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    p.state = "absent";
  } else {
    p.state = "cannot open";
    p.detail = SystemMessage(error);
  }
  return p;
}

}  // namespace

PortState LookAtPort(int com) { return Look(com); }

}  // namespace host
