#include "channel/connect.h"

#include <cstdio>
#include <string>

#include "channel/decimal_separator.h"
#include "channel/device_errors.h"
#include "channel/slot_table.h"
#include "channel/trace.h"
#include "platform/os.h"

namespace pesolan {
namespace {

constexpr uint32_t kReadyPollMs = 8;
constexpr uint32_t kReadyWaitMs = 640;
// Anything else would reach the system's resolver as text that it may take
// modulo 65536 (70000 becomes 4464): another service, not the scale.
constexpr int32_t kLowestTcpPort = 1;
constexpr int32_t kHighestTcpPort = 65535;
// The longest an open of a TCP channel takes, lookup included: a scale on a
// LAN answers in milliseconds, and an open that waits longer freezes the
// platform's form (the system's own limit is over two minutes on Linux).
constexpr uint32_t kConnectLimitMs = 5000;

os::SerialPort OpenSerialPort(int index, int32_t rsPort) {
  if (rsPort < 1 || rsPort > os::kMaxPort) {
    Trace(index, "COM%d is outside COM1..COM256", static_cast<int>(rsPort));
    return nullptr;
  }
  char device[64] = "?";
  os::SerialDeviceName(rsPort, device, sizeof device);
  char why[160] = "";
  const os::SerialPort port = os::OpenSerial(rsPort, why, sizeof why);
  if (port != nullptr) {
    Trace(index, "opened COM%d (%s)", static_cast<int>(rsPort), device);
  } else {
    Trace(index, "cannot open COM%d (%s): %s", static_cast<int>(rsPort), device, why);
  }
  return port;
}

// Line settings in words, as a person sets them on the scale; the codes
// are those of the Windows DCB.
const char* ParityName(uint8_t parity) {
  static const char* const kNames[] = {"no", "odd", "even", "mark", "space"};
  return parity < 5 ? kNames[parity] : "unknown";
}

const char* StopBitsName(uint8_t stopBits) {
  static const char* const kNames[] = {"1", "1.5", "2"};
  return stopBits < 3 ? kNames[stopBits] : "unknown";
}

// The serial branch of OpenChannel, on the device's own claimed slot.
bool OpenSerialChannel(DeviceHandle& handle, int index, DeviceSlot& slot, int32_t rsPort) {
  const os::SerialPort port = OpenSerialPort(index, rsPort);
  if (port == nullptr) {
    RecordPortOpenError(handle);
    return false;
  }
  ClearError(handle, Port_Open_Error);
  const os::LineSettings line{slot.settings.baudRate, slot.settings.parity, slot.settings.byteSize,
                              slot.settings.stopBits};
  if (!os::ConfigureSerial(port, line)) {
    // A port that refuses its line settings cannot be used: say so.
    Trace(index, "the port refuses %d baud, %d data bits, %s parity, %s stop bit%s", line.baudRate, line.byteSize,
          ParityName(line.parity), StopBitsName(line.stopBits), line.stopBits == 0 ? "" : "s");
    os::CloseSerial(port);
    RecordPortOpenError(handle);
    return false;
  }
  slot.comHandle = port;
  return true;
}

// The scale at host (an address, or a name for the resolver) and port,
// connected within 5 s in all: the lookup's time counts too. An address in
// a form the system would read its own way is refused: it may name another
// device than the one the user meant.
os::Socket ConnectWithin(const char* host, uint16_t port, char* why, size_t whySize) {
  const uint32_t start = os::Tick();
  uint8_t address[4] = {};
  switch (os::ReadHostText(host, address)) {
    case os::HostText::NotAnAddress:
      std::snprintf(why, whySize, "'%s' is no IPv4 address: four numbers from 0 to 255, such as 192.168.1.10", host);
      return os::kNoSocket;
    case os::HostText::Name:
      if (!os::ResolveHost(host, kConnectLimitMs, address, why, whySize)) return os::kNoSocket;
      break;
    case os::HostText::Address:
      break;
  }
  const uint32_t left = os::Left(start, kConnectLimitMs);
  if (left == 0) {
    std::snprintf(why, whySize, "timed out after %u ms", static_cast<unsigned>(kConnectLimitMs));
    return os::kNoSocket;
  }
  return os::TcpConnect(address, port, left, why, whySize);
}

// The TCP branch of OpenChannel. Every failure leaves Tcp_Connect_Error in
// the slot (not in the handle's guard), as a refused connection does.
bool OpenTcpChannel(const DeviceHandle& handle, int index, DeviceSlot& slot) {
  char service[8];
  const int32_t port = slot.settings.tcpPort;
  if (port < kLowestTcpPort || port > kHighestTcpPort) {
    Trace(index, "TCP port %d is outside 1..65535", static_cast<int>(port));
    RecordTcpConnectError(handle);
    return false;
  }
  if (!os::NetStartup()) {
    Trace(index, "the network does not start");
    RecordTcpConnectError(handle);
    return false;
  }
  std::snprintf(service, sizeof service, "%d", static_cast<int>(port));
  char why[160] = "";
  const os::Socket s = ConnectWithin(slot.settings.ip, static_cast<uint16_t>(port), why, sizeof why);
  if (s == os::kNoSocket) {
    Trace(index, "cannot connect to %s:%s: %s", slot.settings.ip, service, why);
    os::NetCleanup();
    RecordTcpConnectError(handle);
    return false;
  }
  Trace(index, "connected to %s:%s", slot.settings.ip, service);
  ClearTcpConnectError(handle);
  slot.socket = s;
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

// The kind of channel for connType, after recording what the settings
// mean for the device's error; Channel_None when they name no channel. For
// a serial channel, ports gets the serial ports that exist (room for
// os::kMaxPort) and found their count.
int32_t ChooseChannel(DeviceHandle& handle, int32_t connType, int32_t* ports, int* found) {
  if (connType == 1) {
    *found = ProbePorts(ports);
    if (*found == 0) {
      RecordError(handle, No_Serial_Ports);
    } else {
      ClearError(handle, No_Serial_Ports);
    }
    return Serial;
  }
  if (connType == 2) return Tcp;
  RecordError(handle, Channel_Settings_Error);
  return Channel_None;
}

// "serial ports found: COM1 COM65", only when the open is traced.
void TracePortsFound(int index, const int32_t* ports, int found) {
  if (!Tracing(index)) return;
  std::string text = found == 0 ? " none" : "";
  for (int i = 0; i < found; ++i) text += " COM" + std::to_string(ports[i]);
  Trace(index, "serial ports found:%s", text.c_str());
}

}  // namespace

bool Connect(DeviceHandle& handle, const ChannelSettings& settings) {
  // Reserved at once, so that a device connecting in another thread cannot
  // take the same slot while this one probes its ports.
  const int index = ReserveSlot();
  if (index < 0) {
    RecordError(handle, Too_Many_Instances);
    return false;
  }
  ClearError(handle, Too_Many_Instances);
  DeviceSlot record;
  int32_t ports[os::kMaxPort];
  int found = 0;
  record.channelKind = ChooseChannel(handle, settings.connType, ports, &found);
  if (record.channelKind == Channel_None) {
    CancelReservation(index);
    return false;
  }
  ClearError(handle, Channel_Settings_Error);

  record.key = handle.key;
  CarryErrorIntoSlot(handle, record);
  record.settings = settings;
  FillSlot(index, record);
  const TraceScope trace(index);
  if (record.channelKind == Serial) TracePortsFound(index, ports, found);

  if (GetError(handle) != NoError) {
    Trace(index, "not opened: error %d", static_cast<int>(DriverErrorNumber(GetError(handle))));
    return false;
  }
  if (!OpenChannel(handle, handle.key, settings.rsPort)) return false;
  SlotTable[index].ready = true;
  UpdateDecimalSeparator();
  return true;
}

bool OpenChannel(DeviceHandle& handle, int32_t key, int32_t rsPort) {
  const int index = key != 0 ? FindSlot(key) : -1;
  if (index < 0) return false;
  DeviceSlot& slot = SlotTable[index];
  if (slot.channelKind == Serial) return OpenSerialChannel(handle, index, slot, rsPort);
  if (slot.channelKind == Tcp) return OpenTcpChannel(handle, index, slot);
  return false;
}

int ProbePorts(int32_t* list) { return os::ProbeSerialPorts(list); }

bool Disconnect(DeviceHandle& handle) {
  const int index = FindSlot(handle.key);
  if (index < 0) return true;
  DeviceSlot& slot = SlotTable[index];
  const uint32_t start = os::Tick();
  os::Sleep(kReadyPollMs);
  while (os::Since(start) < kReadyWaitMs && !slot.ready) os::Sleep(kReadyPollMs);
  CloseChannel(slot);
  FreeSlot(index);
  return true;
}

}  // namespace pesolan
