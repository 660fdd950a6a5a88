#pragma once
// The operating-system layer: ticks and sleeps, serial ports and sockets.
// Everything above reaches the system only through these functions; there is
// one implementation file per OS (os_windows.cpp, os_linux.cpp).

#include <cstddef>
#include <cstdint>

namespace os {

// ---- time ---------------------------------------------------------------

// Millisecond tick of the system. It wraps after about 49.7 days, so elapsed
// times are always taken as unsigned 32-bit differences.
uint32_t Tick();
inline uint32_t Since(uint32_t start) { return Tick() - start; }
// Milliseconds left until limit ms have passed since start; 0 once they have.
inline uint32_t Left(uint32_t start, uint32_t limit) {
  const uint32_t passed = Since(start);
  return passed >= limit ? 0 : limit - passed;
}
// Blocks the calling thread for ms milliseconds; 0 returns at once.
void Sleep(uint32_t ms);
// Microseconds of a clock that never wraps nor jumps, for measuring the pace
// at which bytes arrive: the millisecond tick advances in steps of about
// 16 ms on Windows, longer than a byte takes on a serial line.
uint64_t MicroTick();

// ---- serial ports ---------------------------------------------------------

// Serial port numbers run from 1 (COM1) to kMaxPort.
constexpr int kMaxPort = 256;

// An open serial port; null means none.
using SerialPort = void*;

enum class PortPresence { Absent, Present, Held };

// Line settings in the Windows serial-port coding: parity 0 none, 1 odd,
// 2 even; stopBits 0 means one stop bit, 2 means two.
struct LineSettings {
  int32_t baudRate;
  uint8_t parity;
  uint8_t byteSize;
  uint8_t stopBits;
};

// Microseconds one character takes on the line: start bit, data bits,
// parity bit, stop bits.
inline uint32_t CharMicroseconds(const LineSettings& line) {
  const uint32_t bits = 1u + line.byteSize + (line.parity != 0 ? 1u : 0u) + (line.stopBits == 2 ? 2u : 1u);
  return line.baudRate > 0 ? bits * 1000000u / static_cast<uint32_t>(line.baudRate) : 1042u;
}

// How long a transmit-empty wait sleeps before it looks at an output queue
// of pending bytes again: about their time on the line, at least 1 ms, and
// no more than the time left.
inline uint32_t DrainSleepMs(uint32_t pending, uint32_t charMicroseconds, uint32_t left) {
  const uint32_t lineMs = (pending * charMicroseconds + 999u) / 1000u;
  const uint32_t sleep = lineMs > 0 ? lineMs : 1u;
  return sleep < left ? sleep : left;
}

// Communication events a port can be asked to report.
enum : uint32_t { kEventRxChar = 0x0001, kEventTxEmpty = 0x0004 };

// Fills list (room for kMaxPort entries) with the numbers of the serial
// ports that exist, ascending, and returns their count. Decided without
// opening a port wherever the system tells: from the device nodes and what
// the kernel reports about UARTs on Linux, from the system's COM device
// names on Windows. Opening a port changes its modem lines (and resets some
// devices), and a Bluetooth port can take seconds to open: only where the
// system does not tell is a port opened for a moment, shared, as a port
// held by another program still counts as present.
int ProbeSerialPorts(int32_t* list);
// The other programs that have the port's device open, lock or no lock,
// as "NAME (pid N), ..." in text; false when there are none. Only the
// processes the caller may look into are seen (its user's; every one as
// root). Windows opens a port for one program only: there it finds none.
bool SerialPortHolders(int port, char* text, std::size_t size);
// Opens the port for reading and writing, exclusively: a port another
// program holds is refused, and no other may open it after (root aside,
// on Linux). Null when it cannot, and then why says why, in the system's
// words where it has them.
SerialPort OpenSerial(int port, char* why, std::size_t whySize);
// Applies the line settings: raw binary, no flow control, DTR and RTS on,
// no time-outs of the port's own (the waits below are bounded instead).
bool ConfigureSerial(SerialPort port, const LineSettings& line);
// Discards both the input and the output queue.
bool PurgeSerial(SerialPort port);
bool SetSerialEvents(SerialPort port, uint32_t events);
// Number of received bytes waiting in the input queue.
bool SerialQueued(SerialPort port, uint32_t* bytes);
// Reads one byte without waiting; true only when exactly one byte was read.
bool SerialReadOne(SerialPort port, uint8_t* byte);
// Writes all the bytes, blocking while the port takes them; false on failure,
// on a short write, or when the port takes nothing for a second.
bool SerialWrite(SerialPort port, const uint8_t* bytes, uint32_t count);
// Blocks up to ms milliseconds for one of the events set by SetSerialEvents
// and reports in *events which came: kEventRxChar while a received byte is
// queued, kEventTxEmpty once everything written has left; 0 when the time
// passed first. A port that has hung up reports nothing and waits out the
// time. False only when the wait itself fails.
bool SerialWaitEvent(SerialPort port, uint32_t ms, uint32_t* events);
bool CloseSerial(SerialPort port);

// ---- sockets ----------------------------------------------------------------

using Socket = uintptr_t;
constexpr Socket kNoSocket = ~Socket(0);

// One start-up per open TCP channel (Winsock 2.2 on Windows).
bool NetStartup();
void NetCleanup();

// What a host text names. Four decimal numbers from 0 to 255, joined by
// dots, are an IPv4 address, and a leading zero is still decimal
// (192.168.001.010 is 192.168.1.10, where the system's own reading takes 010
// for octal 8). Any other text that the system would read as a number
// (127.1, 2130706433, 1.2.3.256, 0x7f.1) is no address: the scale meant is
// not known. The rest is a host name.
enum class HostText { Address, NotAnAddress, Name };
HostText ReadHostText(const char* text, uint8_t address[4]);
// The first IPv4 address of a host name, asking the system's resolver for at
// most ms milliseconds where the system can bound the lookup (glibc's
// getaddrinfo_a, GetAddrInfoExW on Windows 8 and later); elsewhere as long
// as the resolver takes. False with why (the resolver's own message, or
// "timed out") when there is none.
bool ResolveHost(const char* name, uint32_t ms, uint8_t address[4], char* why, std::size_t whySize);
// Connects a blocking socket to address:port, giving up after ms
// milliseconds. kNoSocket on any failure, and then why says why ("timed
// out" when the time passed first).
Socket TcpConnect(const uint8_t address[4], uint16_t port, uint32_t ms, char* why, std::size_t whySize);
// Blocks up to ms milliseconds (0: just looks) until a receive would not
// block: a byte has come, or the connection is closed or failed (then it
// answers true at once, and for ever).
bool SocketReadable(Socket s, uint32_t ms);
// Blocks up to ms milliseconds until a send would not block.
bool SocketWritable(Socket s, uint32_t ms);
// Bytes received, or 0 or less when nothing came (closed or failed).
int SocketReceive(Socket s, uint8_t* buffer, int size);
// Bytes received by the system and not yet taken by SocketReceive.
bool SocketQueued(Socket s, uint32_t* bytes);
// Bytes sent, or -1 when the send failed.
int SocketSend(Socket s, const uint8_t* bytes, int count);
void SocketShutdown(Socket s);
void SocketClose(Socket s);

// ---- the environment and the trace file ------------------------------------

// The value of the environment variable; false when it is unset, empty or
// too long for value.
bool EnvironmentText(const char* name, char* value, std::size_t size);
// Appends the text to the trace file at path in one write, so that lines
// from several threads do not interleave. The file is opened without
// following a symbolic link (or reparse point) in its last component,
// without waiting, and only when it is a regular file: a FIFO, a device, a
// folder or a link is left alone and false returned. A missing file is
// created, readable by its owner only. Once the file would pass limit bytes
// it is renamed to path.1 (replacing an older one) and a new one begun, so
// that at most about twice the limit is ever on disk.
bool AppendTrace(const char* path, const char* text, std::size_t length, uint64_t limit);
// The local date and time to the millisecond: "2026-12-07 15:30:01.123".
void LocalTimeText(char* text, std::size_t size);
// The system's name of a serial port's device ("/dev/ttyUSB0", "\\.\com10").
bool SerialDeviceName(int port, char* name, std::size_t size);
// The system's message for the error of the call that failed last on this
// thread.
void LastErrorText(char* text, std::size_t size);

}  // namespace os
