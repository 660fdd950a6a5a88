// What a Windows serial port is: its friendly name and hardware id from the
// Ports device class (SetupAPI); the port itself is not opened.

#include <windows.h>
#include <setupapi.h>

#include <initguid.h>
#include <devguid.h>

#include "port_identity.h"

namespace host {
namespace {

std::string Property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  char text[512] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, &type, reinterpret_cast<BYTE*>(text),
                                         sizeof text - 2, nullptr))
    return "";
  return text;  // of a multi-string (the hardware ids), the first
}

// The device's port name ("COM3") from its registry key.
std::string PortName(HDEVINFO set, SP_DEVINFO_DATA* device) {
  const HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return "";
  char name[64] = {};
  DWORD size = sizeof name - 1, type = 0;
  const LONG read = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_SZ ? name : "";
}

}  // namespace

PortIdentity IdentifyPort(const std::string& device, const std::string&, const std::string&) {
  PortIdentity id;
  const std::string wanted = device.substr(device.rfind('\\') + 1);  // "\\.\COM10" -> "COM10"
  const HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return id;
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; i < 1024 && SetupDiEnumDeviceInfo(set, i, &data); ++i) {
    if (_stricmp(PortName(set, &data).c_str(), wanted.c_str()) != 0) continue;
    id.friendlyName = Property(set, &data, SPDRP_FRIENDLYNAME);
    id.hardwareId = Property(set, &data, SPDRP_HARDWAREID);
    id.manufacturer = Property(set, &data, SPDRP_MFG);
    if (id.hardwareId.compare(0, 4, "USB\\") == 0 || id.hardwareId.compare(0, 7, "FTDIBUS") == 0) id.kind = "usb";
    break;
  }
  SetupDiDestroyDeviceInfoList(set);
  return id;
}

}  // namespace host
