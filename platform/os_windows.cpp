// Windows implementation of the operating-system layer: the Win32 serial
// functions, Winsock 2.2, GetTickCount and Sleep.
//
// Serial ports are opened for overlapped I/O so that every wait on them is
// bounded by the time left:
// - Waiting for input is a one-byte overlapped ReadFile, waited for with
//   the time left and cancelled when the time passes first. It returns as
//   soon as a byte arrives. A read that a line error aborts (fAbortOnError)
//   does not end the wait: the error is cleared and the wait goes on for
//   the time left (serial_wait.h). The port keeps the zeroed COMMTIMEOUTS, under
//   which a read waits for its byte: the driver's own read time-outs are
//   not relied on (Wine, for one, does not keep them). The byte the wait
//   takes is held in the port record and counted as queued, so a byte that
//   shows the scale is streaming still waits for the reads that follow.
// - Waiting for the transmitter to empty watches the output queue count
//   that ClearCommError reports, sleeping about as long as the queued bytes
//   take on the line between looks, until it is 0 or the time has passed.
//   WaitCommEvent with EV_TXEMPTY is not used: a synchronous one holds the
//   caller for as long as the driver reports nothing, some drivers never
//   report it, and Wine serves each wait with a thread of its own.
// - Reads and writes are overlapped calls whose completion is waited for
//   with a bound; a call still pending after it is cancelled.

#include "platform/os.h"
#include "platform/serial_wait.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <new>

namespace os {

uint32_t Tick() { return static_cast<uint32_t>(GetTickCount()); }
void Sleep(uint32_t ms) {
  if (ms > 0) ::Sleep(ms);
}

uint64_t MicroTick() {
  LARGE_INTEGER now{}, frequency{};
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  const uint64_t ticks = static_cast<uint64_t>(now.QuadPart), perSecond = static_cast<uint64_t>(frequency.QuadPart);
  return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
}

// ---- serial ports ---------------------------------------------------------

namespace {

// com1..com9, then \\.\com10 .. \\.\com256 (the only form Windows accepts
// for two- and three-digit port numbers).
bool DeviceName(int port, char* name, std::size_t size) {
  if (port < 1 || port > kMaxPort) return false;
  const int written = std::snprintf(name, size, port <= 9 ? "com%d" : "\\\\.\\com%d", port);
  return written > 0 && static_cast<std::size_t>(written) < size;
}

}  // namespace

bool SerialDeviceName(int port, char* name, std::size_t size) { return DeviceName(port, name, size); }

namespace {

HANDLE OpenDevice(int port, DWORD sharing, DWORD flags) {
  char name[16];
  if (!DeviceName(port, name, sizeof name)) return INVALID_HANDLE_VALUE;
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING, flags, nullptr);
}

// The open port. An overlapped call writes into its record (the OVERLAPPED,
// the byte read) until it completes, so these live here, not on a stack the
// call could outlast.
struct WinPort {
  HANDLE handle;
  HANDLE done;         // signalled when the overlapped call completes
  OVERLAPPED ov;
  DWORD mask;          // the event mask last set
  uint32_t charMicroseconds;  // one character on the line
  uint8_t held;        // a byte that a wait took and no read has yet
  bool holding;
  bool stuck;          // a call the driver never completed still owns the record
};

WinPort* P(SerialPort port) { return static_cast<WinPort*>(port); }

constexpr DWORD kStallMs = 1000;             // a port that does nothing this long is gone
constexpr uint32_t kDefaultCharMicroseconds = 1042;  // 10 bits at 9600 baud

// Readies the record for the next overlapped call; false when a call that
// never completed still owns it.
bool Begin(WinPort* p) {
  if (p->stuck) return false;
  p->ov = OVERLAPPED{};
  p->ov.hEvent = p->done;
  return ResetEvent(p->done) != 0;
}

// Completes an overlapped call that Begin readied and started returned:
// waits up to ms if it is pending and cancels it when the time passes
// first. The event, not the OVERLAPPED's status, tells that the call is
// over: some implementations write the status before they are done with
// the record. True with the byte count when the call succeeded or was
// cancelled here (then with what it moved before the cancel).
bool Complete(WinPort* p, BOOL started, DWORD ms, DWORD* count) {
  bool cancelled = false;
  if (!started) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(p->done, ms) != WAIT_OBJECT_0) {
      cancelled = CancelIo(p->handle) != 0;
      if (WaitForSingleObject(p->done, kStallMs) != WAIT_OBJECT_0) {
        p->stuck = true;
        return false;
      }
    }
  }
  if (GetOverlappedResult(p->handle, &p->ov, count, FALSE)) return true;
  *count = 0;
  return cancelled && GetLastError() == ERROR_OPERATION_ABORTED;
}

// One byte into p->held, waiting up to ms for it.
ReadEnd ReadHeld(WinPort* p, DWORD ms) {
  DWORD got = 0;
  if (!Begin(p)) return ReadEnd::Failed;
  const BOOL started = ReadFile(p->handle, &p->held, 1, nullptr, &p->ov);
  if (Complete(p, started, ms, &got)) return got == 1 ? ReadEnd::Byte : ReadEnd::TimeUp;
  // A port that aborts reads on line errors ends this one with
  // ERROR_OPERATION_ABORTED (it was not cancelled here): the line had an
  // error, the port still works.
  return !p->stuck && GetLastError() == ERROR_OPERATION_ABORTED ? ReadEnd::LineError : ReadEnd::Failed;
}

bool QueueCounts(WinPort* p, COMSTAT* stat) {
  DWORD errors = 0;
  return ClearCommError(p->handle, &errors, stat) != 0;
}

// The port as the byte wait of serial_wait.h sees it.
struct ByteWait {
  WinPort* p;
  uint32_t Now() const { return Tick(); }
  bool ClearAndCount(uint32_t* queued) {
    COMSTAT stat{};
    if (!QueueCounts(p, &stat)) return false;
    *queued = stat.cbInQue;
    return true;
  }
  ReadEnd ReadOne(uint32_t ms) {
    const ReadEnd end = ReadHeld(p, ms);
    p->holding = end == ReadEnd::Byte;
    return end;
  }
  void Pause(uint32_t ms) const { ::Sleep(ms); }
};

bool WaitForByte(WinPort* p, uint32_t ms, uint32_t* events) {
  bool came = p->holding;
  if (!came) {
    ByteWait port{p};
    if (!WaitForQueuedByte(port, ms, &came)) return false;
  }
  if (came) *events = kEventRxChar;
  return true;
}

// Until everything written has left: the output queue count, looked at
// again after about the time its bytes take on the line.
bool WaitTransmitted(WinPort* p, uint32_t ms, uint32_t* events) {
  const uint32_t start = Tick();
  for (;;) {
    COMSTAT stat{};
    if (!QueueCounts(p, &stat)) return false;
    if (stat.cbOutQue == 0) {
      *events = kEventTxEmpty;
      return true;
    }
    const uint32_t left = Left(start, ms);
    if (left == 0) return true;
    ::Sleep(DrainSleepMs(stat.cbOutQue, p->charMicroseconds, left));
  }
}

}  // namespace

namespace {

// Opens the port shared for reading and closes it again at once.
PortPresence ProbeByOpening(int port) {
  const HANDLE h = OpenDevice(port, FILE_SHARE_READ, 0);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return PortPresence::Present;
  }
  return GetLastError() == ERROR_ACCESS_DENIED ? PortPresence::Held : PortPresence::Absent;
}

enum class Named { Yes, No, Unknown };

// Whether the system's device names include COMn.
Named ByName(int port) {
  char name[16], target[1024];
  std::snprintf(name, sizeof name, "COM%d", port);
  if (QueryDosDeviceA(name, target, sizeof target) != 0) return Named::Yes;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return Named::No;
    case ERROR_INSUFFICIENT_BUFFER: return Named::Yes;
    default: return Named::Unknown;
  }
}

}  // namespace

// The system names every COM port it has. When it names none, they are
// probed by opening, as before: Wine knows a port linked by hand in its
// dosdevices folder only when it is opened.
int ProbeSerialPorts(int32_t* list) {
  int count = 0;
  for (int port = 1; port <= kMaxPort; ++port) {
    const Named named = ByName(port);
    if (named == Named::Yes || (named == Named::Unknown && ProbeByOpening(port) != PortPresence::Absent)) {
      list[count++] = port;
    }
  }
  if (count > 0) return count;
  for (int port = 1; port <= kMaxPort; ++port) {
    if (ProbeByOpening(port) != PortPresence::Absent) list[count++] = port;
  }
  return count;
}

namespace {

// Opening a port exclusively, as OpenTakingTurns sees it.
struct ExclusiveOpen {
  int port;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  uint32_t Now() const { return Tick(); }
  OpenEnd Open() {
    handle = OpenDevice(port, 0, FILE_FLAG_OVERLAPPED);
    if (handle != INVALID_HANDLE_VALUE) return OpenEnd::Opened;
    error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? OpenEnd::Held : OpenEnd::Failed;
  }
  void Pause(uint32_t ms) const { ::Sleep(ms); }
};

constexpr uint32_t kHeldByAProbeMs = 200;  // an open while ports are found by opening

}  // namespace

bool SerialPortHolders(int, char* text, std::size_t size) {
  if (size > 0) text[0] = '\0';
  return false;
}

SerialPort OpenSerial(int port, char* why, std::size_t whySize) {
  ExclusiveOpen open{port};
  OpenTakingTurns(open, kHeldByAProbeMs);
  const HANDLE h = open.handle;
  if (h == INVALID_HANDLE_VALUE) {
    // A COM port that another program has open answers "access denied".
    const DWORD error = open.error;
    SetLastError(error);
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      std::snprintf(why, whySize, "held by another program");
    } else {
      LastErrorText(why, whySize);
    }
    return nullptr;
  }
  const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WinPort* p = done != nullptr ? new (std::nothrow) WinPort{} : nullptr;
  if (p != nullptr) {
    p->handle = h;
    p->done = done;
    p->charMicroseconds = kDefaultCharMicroseconds;
  }
  if (p == nullptr) {
    if (done != nullptr) CloseHandle(done);
    CloseHandle(h);
  }
  return p;
}

bool ConfigureSerial(SerialPort port, const LineSettings& line) {
  WinPort* p = P(port);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(p->handle, &dcb)) return false;
  dcb.BaudRate = static_cast<DWORD>(line.baudRate);
  dcb.ByteSize = line.byteSize;
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!SetCommState(p->handle, &dcb)) return false;
  p->charMicroseconds = CharMicroseconds(line);
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(p->handle, &timeouts)) return false;
  // No time-outs: every wait is bounded by the overlapped calls instead.
  COMMTIMEOUTS none{};
  if (!SetCommTimeouts(p->handle, &none)) return false;
  return PurgeSerial(port);
}

bool PurgeSerial(SerialPort port) {
  P(port)->holding = false;
  return PurgeComm(P(port)->handle, PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

bool SetSerialEvents(SerialPort port, uint32_t events) {
  DWORD mask = 0;
  if (events & kEventRxChar) mask |= EV_RXCHAR;
  if (events & kEventTxEmpty) mask |= EV_TXEMPTY;
  if (!SetCommMask(P(port)->handle, mask)) return false;
  P(port)->mask = mask;
  return true;
}

bool SerialQueued(SerialPort port, uint32_t* bytes) {
  COMSTAT stat{};
  if (!QueueCounts(P(port), &stat)) return false;
  *bytes = stat.cbInQue + (P(port)->holding ? 1u : 0u);
  return true;
}

bool SerialReadOne(SerialPort port, uint8_t* byte) {
  WinPort* p = P(port);
  if (p->holding) {
    p->holding = false;
    *byte = p->held;
    return true;
  }
  // Made only when a byte is queued, so it completes at once.
  if (ReadHeld(p, kStallMs) != ReadEnd::Byte) return false;
  *byte = p->held;
  return true;
}

namespace {

// The port as WriteClearingErrors sees it.
struct ByteWrite {
  WinPort* p;
  bool ClearAndCount(uint32_t* queued) {
    COMSTAT stat{};
    if (!QueueCounts(p, &stat)) return false;
    *queued = stat.cbInQue;
    return true;
  }
  bool Write(const uint8_t* bytes, uint32_t count) {
    if (!Begin(p)) return false;
    // The bytes are the caller's: the call is over before this returns, or
    // the port is marked stuck and used no more.
    DWORD written = 0;
    const BOOL started = WriteFile(p->handle, bytes, count, nullptr, &p->ov);
    return Complete(p, started, kStallMs, &written) && written == count;
  }
};

}  // namespace

bool SerialWrite(SerialPort port, const uint8_t* bytes, uint32_t count) {
  ByteWrite write{P(port)};
  return WriteClearingErrors(write, bytes, count);
}

bool SerialWaitEvent(SerialPort port, uint32_t ms, uint32_t* events) {
  WinPort* p = P(port);
  *events = 0;
  if ((p->mask & EV_RXCHAR) != 0) return WaitForByte(p, ms, events);
  if ((p->mask & EV_TXEMPTY) != 0) return WaitTransmitted(p, ms, events);
  return false;
}

bool CloseSerial(SerialPort port) {
  WinPort* p = P(port);
  const bool closed = CloseHandle(p->handle) != 0;
  // A call the driver never completed may still write into the record and
  // signal the event: both are left to it.
  if (!p->stuck) {
    CloseHandle(p->done);
    delete p;
  }
  return closed;
}

// ---- sockets ----------------------------------------------------------------

bool NetStartup() {
  WSADATA data{};
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() { WSACleanup(); }

namespace {
bool Select(Socket s, bool forWrite, uint32_t ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(s), &set);
  timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000L};
  return select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit) > 0;
}
}  // namespace

bool SocketReadable(Socket s, uint32_t ms) { return Select(s, false, ms); }
bool SocketWritable(Socket s, uint32_t ms) { return Select(s, true, ms); }

int SocketReceive(Socket s, uint8_t* buffer, int size) {
  return recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(buffer), size, 0);
}

bool SocketQueued(Socket s, uint32_t* bytes) {
  u_long queued = 0;
  if (ioctlsocket(static_cast<SOCKET>(s), FIONREAD, &queued) != 0) return false;
  *bytes = static_cast<uint32_t>(queued);
  return true;
}

int SocketSend(Socket s, const uint8_t* bytes, int count) {
  const int sent = send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(bytes), count, 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

void SocketShutdown(Socket s) { shutdown(static_cast<SOCKET>(s), SD_BOTH); }
void SocketClose(Socket s) { closesocket(static_cast<SOCKET>(s)); }

}  // namespace os
