// The operating-system layer in virtual time (see fake_os.h). Every wait
// ends at the scripted arrival of a byte or when its time has passed, in
// one step: a wait that took several steps would show up in Waits().

#include "fake_os.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

namespace fuzzing {

uint32_t g_now = 0;

namespace {

struct Arrival {
  uint32_t at;
  uint8_t byte;
};

std::deque<Arrival> g_line;  // in order of arrival
std::string g_sent;
bool g_txEmptyReported = true;
int g_waits = 0;
uint32_t g_events = 0;
int g_port = 0;  // only its address is used
uint32_t g_receiveMs = 0;
uint32_t g_stallAt = 0, g_stallMs = 0;
bool g_plugged = false;
os::LineSettings g_scale{}, g_reader{};

// A stall due is taken at a reading of the clock, where a preempted thread
// finds that time has passed.
uint32_t Now() {
  if (g_stallMs > 0 && g_now >= g_stallAt) g_now += g_stallMs, g_stallMs = 0;
  return g_now;
}

bool Arrived() { return !g_line.empty() && g_line.front().at <= g_now; }

// A loop that waits for 0 ms again and again spins in real time and never
// ends in virtual time: it fails here instead of hanging.
void CountWait() {
  if (++g_waits > 100000) std::abort();
}

// Waits up to ms for a byte: true when one has arrived by then.
bool WaitForByte(uint32_t ms) {
  CountWait();
  if (Arrived()) return true;
  if (!g_line.empty() && g_line.front().at <= g_now + ms) {
    g_now = g_line.front().at;
    return true;
  }
  g_now += ms;
  return false;
}

int Take(uint8_t* buffer, int size) {
  int n = 0;
  while (n < size && Arrived()) {
    buffer[n++] = g_line.front().byte;
    g_line.pop_front();
  }
  return n;
}

// A byte the scale sent, as the port's settings receive it.
uint8_t AsReceived(uint8_t sent) {
  if (!g_plugged || (g_scale.byteSize == g_reader.byteSize && g_scale.parity == g_reader.parity)) return sent;
  int ones = 0;
  for (int bit = 0; bit < 7; ++bit) ones += (sent >> bit) & 1;
  const bool parityBit = ones % 2 != 0;  // even parity
  if (g_scale.byteSize == 7) return static_cast<uint8_t>((sent & 0x7F) | (parityBit ? 0x80 : 0));
  return ((sent & 0x80) != 0) == parityBit ? static_cast<uint8_t>(sent & 0x7F) : 0;
}

int ArrivedCount() {
  int n = 0;
  for (const Arrival& a : g_line) n += a.at <= g_now ? 1 : 0;
  return n;
}

}  // namespace

void ResetLine() {
  g_now = 0;
  g_line.clear();
  g_sent.clear();
  g_txEmptyReported = true;
  g_waits = 0;
  g_events = 0;
  g_receiveMs = 0;
  g_stallMs = 0;
  g_plugged = false;
}

void PlugSerialLine(const os::LineSettings& scale) {
  g_plugged = true;
  g_scale = g_reader = scale;
}

void Arrive(uint32_t at, const std::string& bytes, uint32_t gap) {
  for (char c : bytes) {
    g_line.push_back({at, static_cast<uint8_t>(c)});
    at += gap;
  }
}

void ReceivesTake(uint32_t ms) { g_receiveMs = ms; }
void StallOnce(uint32_t at, uint32_t ms) { g_stallAt = at, g_stallMs = ms; }
void ReportTransmitterEmpty(bool reported) { g_txEmptyReported = reported; }
int Waits() { return g_waits; }
int Unread() { return static_cast<int>(g_line.size()); }
const std::string& Sent() { return g_sent; }
os::SerialPort ScriptedPort() { return &g_port; }
os::Socket ScriptedSocket() { return 7; }

}  // namespace fuzzing

namespace os {

using namespace fuzzing;

uint32_t Tick() { return Now(); }
uint64_t MicroTick() { return static_cast<uint64_t>(Now()) * 1000u; }
void Sleep(uint32_t ms) {
  if (ms > 0) ++g_waits;
  g_now += ms;
}

int ProbeSerialPorts(int32_t*) { return 0; }
bool SerialPortHolders(int, char* text, std::size_t size) {
  if (size > 0) text[0] = '\0';
  return false;
}
SerialPort OpenSerial(int, char* why, std::size_t whySize) {
  if (!g_plugged) std::snprintf(why, whySize, "virtual: nothing plugged");
  return g_plugged ? &g_port : nullptr;
}
bool ConfigureSerial(SerialPort port, const LineSettings& line) {
  if (!g_plugged) return false;
  g_reader = line;
  return PurgeSerial(port);
}
bool PurgeSerial(SerialPort) {
  uint8_t scratch[64];
  while (Take(scratch, sizeof scratch) > 0) {
  }
  return true;
}
bool SetSerialEvents(SerialPort, uint32_t events) {
  g_events = events;
  return true;
}
bool SerialQueued(SerialPort, uint32_t* bytes) {
  *bytes = static_cast<uint32_t>(ArrivedCount());
  return true;
}
bool SerialReadOne(SerialPort, uint8_t* byte) {
  if (Take(byte, 1) != 1) return false;
  *byte = AsReceived(*byte);
  return true;
}
bool SerialWrite(SerialPort, const uint8_t* bytes, uint32_t count) {
  g_sent.append(reinterpret_cast<const char*>(bytes), count);
  return true;
}
bool SerialWaitEvent(SerialPort, uint32_t ms, uint32_t* events) {
  *events = 0;
  if (g_events & kEventTxEmpty) {
    CountWait();
    if (g_txEmptyReported) {
      *events = kEventTxEmpty;
    } else {
      g_now += ms;
    }
  } else if ((g_events & kEventRxChar) && WaitForByte(ms)) {
    *events = kEventRxChar;
  }
  return true;
}
bool CloseSerial(SerialPort) { return true; }

bool NetStartup() { return true; }
void NetCleanup() {}
HostText ReadHostText(const char*, uint8_t*) { return HostText::Name; }
bool ResolveHost(const char*, uint32_t, uint8_t*, char* why, std::size_t whySize) {
  std::snprintf(why, whySize, "virtual: no names");
  return false;
}
Socket TcpConnect(const uint8_t*, uint16_t, uint32_t, char*, std::size_t) { return kNoSocket; }
bool SocketReadable(Socket, uint32_t ms) { return WaitForByte(ms); }
bool SocketWritable(Socket, uint32_t) { return true; }
int SocketReceive(Socket, uint8_t* buffer, int size) {
  const int n = Take(buffer, size);
  g_now += g_receiveMs;
  return n;
}
bool SocketQueued(Socket, uint32_t* bytes) {
  *bytes = static_cast<uint32_t>(ArrivedCount());
  return true;
}
int SocketSend(Socket, const uint8_t* bytes, int count) {
  g_sent.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
  return count;
}
void SocketShutdown(Socket) {}
void SocketClose(Socket) {}

// No trace in virtual time.
bool EnvironmentText(const char*, char*, std::size_t) { return false; }
bool AppendTrace(const char*, const char*, std::size_t, uint64_t) { return false; }
void LocalTimeText(char* text, std::size_t size) { std::snprintf(text, size, "virtual"); }
bool SerialDeviceName(int port, char* name, std::size_t size) {
  return std::snprintf(name, size, "virtual%d", port) > 0;
}
void LastErrorText(char* text, std::size_t size) { std::snprintf(text, size, "virtual"); }

}  // namespace os
