// The operating-system layer for fuzzing: virtual time that passes only when
// the code sleeps or yields, and no serial port or connection that opens.
// It keeps fuzz runs fast and deterministic, and lets them check that every
// wait ends.

#include "fake_os.h"

#include "platform/os.h"

namespace fuzzing {
uint32_t g_now = 0;
}

namespace os {

uint32_t Tick() { return fuzzing::g_now; }
void Sleep(uint32_t ms) { fuzzing::g_now += ms; }

PortPresence ProbeSerial(int) { return PortPresence::Absent; }
SerialPort OpenSerial(int) { return nullptr; }
bool ConfigureSerial(SerialPort, const LineSettings&) { return false; }
bool PurgeSerial(SerialPort) { return false; }
bool SetSerialEvents(SerialPort, uint32_t) { return false; }
bool SerialQueued(SerialPort, uint32_t*) { return false; }
bool SerialReadOne(SerialPort, uint8_t*) { return false; }
bool SerialWrite(SerialPort, const uint8_t*, uint32_t) { return false; }
bool SerialWaitEvent(SerialPort, uint32_t, uint32_t*) { return false; }
bool CloseSerial(SerialPort) { return true; }

bool NetStartup() { return true; }
void NetCleanup() {}
Socket TcpConnect(const char*, const char*) { return kNoSocket; }
bool SocketReadable(Socket, uint32_t ms) {
  fuzzing::g_now += ms;
  return false;
}
bool SocketWritable(Socket, uint32_t) { return false; }
int SocketReceive(Socket, uint8_t*, int) { return 0; }
int SocketSend(Socket, const uint8_t*, int) { return -1; }
void SocketShutdown(Socket) {}
void SocketClose(Socket) {}

}  // namespace os
