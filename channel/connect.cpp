#include "channel/connect.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "channel/error_codes.h"

namespace pesolan {
namespace {

constexpr uint32_t kReadyPollMs = 8;
constexpr uint32_t kReadyWaitMs = 640;
// The port travels as decimal text in a buffer of 8 characters.
constexpr int32_t kLowestTcpPortText = -999999;
constexpr int32_t kHighestTcpPortText = 9999999;

void UpdateDecimalSeparator() {
  if (std::atof("0.102") > 0) {
    DecimalSeparator = '.';
  } else if (std::atof("0,102") > 0) {
    DecimalSeparator = ',';
  }
}

// The serial branch of OpenChannel, working on the copy of the slot.
bool OpenSerialChannel(DeviceHandle& handle, DeviceSlot& copy, int32_t rsPort) {
  const os::SerialPort port = (rsPort >= 1 && rsPort <= os::kMaxPort) ? os::OpenSerial(rsPort) : nullptr;
  if (port == nullptr) {
    copy.errorCode = Port_Open_Error;
    RecordError(handle, Port_Open_Error);
    return false;
  }
  if (copy.errorCode == Port_Open_Error) copy.errorCode = NoError;
  ClearError(handle, Port_Open_Error);
  const os::LineSettings line{copy.settings.baudRate, copy.settings.parity, copy.settings.byteSize,
                              copy.settings.stopBits};
  if (!os::ConfigureSerial(port, line)) {
    // A port that refuses its line settings cannot be used: say so.
    os::CloseSerial(port);
    copy.errorCode = Port_Open_Error;
    RecordError(handle, Port_Open_Error);
    return false;
  }
  copy.comHandle = port;
  return true;
}

// The TCP branch of OpenChannel. Every failure leaves Tcp_Connect_Error in
// the slot (not in the handle's guard), as a refused connection does.
bool OpenTcpChannel(DeviceSlot& copy) {
  char service[8];
  const int32_t port = copy.settings.tcpPort;
  if (port < kLowestTcpPortText || port > kHighestTcpPortText || !os::NetStartup()) {
    copy.errorCode = Tcp_Connect_Error;
    return false;
  }
  std::snprintf(service, sizeof service, "%d", static_cast<int>(port));
  const os::Socket s = os::TcpConnect(copy.settings.ip, service);
  if (s == os::kNoSocket) {
    os::NetCleanup();
    copy.errorCode = Tcp_Connect_Error;
    return false;
  }
  if (copy.errorCode == Tcp_Connect_Error) copy.errorCode = NoError;
  copy.socket = s;
  return true;
}

void CloseChannel(DeviceSlot& slot) {
  if (slot.channelKind == Serial) {
    if (slot.comHandle != nullptr && os::CloseSerial(slot.comHandle)) slot.comHandle = nullptr;
  } else if (slot.channelKind == Tcp) {
    if (slot.socket != os::kNoSocket) {
      os::SocketShutdown(slot.socket);
      os::SocketClose(slot.socket);
      os::NetCleanup();
      slot.socket = os::kNoSocket;
    }
  }
}

}  // namespace

bool Connect(DeviceHandle& handle, const ChannelSettings& settings) {
  DeviceSlot record;
  const int index = FindSlot(0);
  if (index < 0) {
    RecordError(handle, Too_Many_Instances);
    return false;
  }
  ClearError(handle, Too_Many_Instances);
  if (settings.connType == 1) {
    int32_t list[os::kMaxPort];
    if (ProbePorts(handle, list) == 0) {
      RecordError(handle, No_Serial_Ports);
    } else {
      ClearError(handle, No_Serial_Ports);
    }
    record.channelKind = Serial;
  } else if (settings.connType == 2) {
    record.channelKind = Tcp;
  } else {
    RecordError(handle, Channel_Settings_Error);
    return false;
  }
  ClearError(handle, Channel_Settings_Error);

  record.key = handle.key;
  record.errorCode = handle.lastError;
  record.settings = settings;
  SlotTable[index] = record;

  if (GetError(handle) != NoError) return false;
  if (!OpenChannel(handle, handle.key, settings.rsPort)) return false;
  SlotTable[index].ready = true;
  UpdateDecimalSeparator();
  return true;
}

bool OpenChannel(DeviceHandle& handle, int32_t key, int32_t rsPort) {
  const int index = FindSlot(key);
  if (index < 0 || key == 0) return false;
  DeviceSlot copy = SlotTable[index];
  bool opened = false;
  if (copy.channelKind == Serial) {
    opened = OpenSerialChannel(handle, copy, rsPort);
  } else if (copy.channelKind == Tcp) {
    opened = OpenTcpChannel(copy);
  }
  // RecordError may have written the slot's code; the copy carries it too.
  SlotTable[index] = copy;
  return opened;
}

int ProbePorts(DeviceHandle& handle, int32_t* list) {
  int count = 0;
  for (int port = 1; port <= os::kMaxPort; ++port) {
    if (os::ProbeSerial(port) != os::PortPresence::Absent) handle.ports[count++] = port;
  }
  handle.portCount = count;
  std::memcpy(list, handle.ports, sizeof(int32_t) * static_cast<size_t>(count));
  return count;
}

bool Disconnect(DeviceHandle& handle) {
  const int index = FindSlot(handle.key);
  if (index < 0) return true;
  DeviceSlot& slot = SlotTable[index];
  const uint32_t start = os::Tick();
  os::Sleep(kReadyPollMs);
  while (os::Since(start) < kReadyWaitMs && !slot.ready) os::Sleep(kReadyPollMs);
  CloseChannel(slot);
  slot.key = 0;
  return true;
}

}  // namespace pesolan
