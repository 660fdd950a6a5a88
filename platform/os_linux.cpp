// Linux implementation of the operating-system layer: termios serial ports
// and BSD sockets with the observable behaviour of the Windows calls.

#include "platform/os.h"
#include "platform/os_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include <fcntl.h>
#include <linux/serial.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace os {

// ---- time ---------------------------------------------------------------

uint32_t Tick() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                      static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void Sleep(uint32_t ms) {
  if (ms == 0) {
    Yield();
    return;
  }
  timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void Yield() { sched_yield(); }

// ---- serial ports ---------------------------------------------------------

namespace {

struct PortRange {
  int first;
  int count;
  const char* prefix;
};
constexpr PortRange kPortRanges[] = {
    {1, 64, "/dev/ttyS"},
    {65, 128, "/dev/ttyUSB"},
    {193, 64, "/dev/ttyACM"},
};

testing::PortPathRule g_portPathRule = nullptr;

bool PathOfPort(int port, char* path, std::size_t size) {
  if (g_portPathRule != nullptr) return g_portPathRule(port, path, size);
  return PortDevicePath(port, path, size);
}

// The open port: the descriptor and the events it was asked to report.
struct LinuxPort {
  int fd;
  uint32_t events;
};

int FdOf(SerialPort port) { return static_cast<LinuxPort*>(port)->fd; }

bool IsAbsentError(int error) {
  return error == ENOENT || error == ENXIO || error == ENODEV || error == ENOTDIR;
}

// A ttyS node exists for every possible on-board UART; the kernel reports
// PORT_UNKNOWN for the ones with no hardware behind them.
bool HasNoUart(int fd, const char* path) {
  if (std::strncmp(path, "/dev/ttyS", 9) != 0) return false;
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
  return info.type == PORT_UNKNOWN;
}

// Opens the node behind a port number as a terminal. Sets *presence to what
// the open found; returns the descriptor or -1.
int OpenPortNode(int port, PortPresence* presence) {
  char path[64];
  *presence = PortPresence::Absent;
  if (!PathOfPort(port, path, sizeof path)) return -1;
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (!IsAbsentError(errno)) *presence = PortPresence::Held;
    return -1;
  }
  if (!isatty(fd) || HasNoUart(fd, path)) {
    close(fd);
    return -1;
  }
  *presence = PortPresence::Present;
  return fd;
}

speed_t SpeedOf(int32_t baudRate) {
  switch (baudRate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

}  // namespace

bool MakeLineTermios(const LineSettings& line, termios* tio) {
  const speed_t speed = SpeedOf(line.baudRate);
  if (speed == B0 || (line.byteSize != 7 && line.byteSize != 8)) return false;
  if (line.parity > 2 || (line.stopBits != 0 && line.stopBits != 2)) return false;
  cfmakeraw(tio);
  cfsetispeed(tio, speed);
  cfsetospeed(tio, speed);
  tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio->c_cflag |= (line.byteSize == 7 ? CS7 : CS8) | CLOCAL | CREAD;
  if (line.parity != 0) tio->c_cflag |= PARENB;
  if (line.parity == 1) tio->c_cflag |= PARODD;
  if (line.stopBits == 2) tio->c_cflag |= CSTOPB;
  tio->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio->c_cc[VMIN] = 0;
  tio->c_cc[VTIME] = 0;
  return true;
}

bool PortDevicePath(int port, char* path, std::size_t size) {
  for (const PortRange& range : kPortRanges) {
    if (port >= range.first && port < range.first + range.count) {
      const int written = std::snprintf(path, size, "%s%d", range.prefix, port - range.first);
      return written > 0 && static_cast<std::size_t>(written) < size;
    }
  }
  return false;
}

void testing::SetPortPathRule(PortPathRule rule) { g_portPathRule = rule; }

PortPresence ProbeSerial(int port) {
  PortPresence presence;
  const int fd = OpenPortNode(port, &presence);
  if (fd < 0) return presence;
  // Sharing for reading: a port that someone holds exclusively refuses it.
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) presence = PortPresence::Held;
  close(fd);
  return presence;
}

SerialPort OpenSerial(int port) {
  PortPresence presence;
  const int fd = OpenPortNode(port, &presence);
  if (fd < 0) return nullptr;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  ioctl(fd, TIOCEXCL);
  return new (std::nothrow) LinuxPort{fd, 0};
}

bool ConfigureSerial(SerialPort port, const LineSettings& line) {
  const int fd = FdOf(port);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0 || !MakeLineTermios(line, &tio)) return false;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  // Pseudo-terminals and some adapters have no modem lines: not an error.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &lines);
  return PurgeSerial(port);
}

bool PurgeSerial(SerialPort port) { return tcflush(FdOf(port), TCIOFLUSH) == 0; }

bool SetSerialEvents(SerialPort port, uint32_t events) {
  static_cast<LinuxPort*>(port)->events = events;
  return fcntl(FdOf(port), F_GETFD) != -1;
}

bool SerialQueued(SerialPort port, uint32_t* bytes) {
  int queued = 0;
  if (ioctl(FdOf(port), FIONREAD, &queued) != 0 || queued < 0) return false;
  *bytes = static_cast<uint32_t>(queued);
  return true;
}

bool SerialReadOne(SerialPort port, uint8_t* byte) { return read(FdOf(port), byte, 1) == 1; }

bool SerialWrite(SerialPort port, const uint8_t* bytes, uint32_t count) {
  const int fd = FdOf(port);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n = write(fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    // Without flow control the queue drains at line speed; a port that
    // takes nothing for a second is gone.
    pollfd waiting{fd, POLLOUT, 0};
    if (poll(&waiting, 1, 1000) <= 0) return false;
  }
  return true;
}

bool SerialWaitEvent(SerialPort port, uint32_t* events) {
  const LinuxPort* p = static_cast<LinuxPort*>(port);
  if (p->events & kEventTxEmpty) {
    if (tcdrain(p->fd) != 0) return false;
    *events = kEventTxEmpty;
    return true;
  }
  if (p->events & kEventRxChar) {
    pollfd waiting{p->fd, POLLIN, 0};
    if (poll(&waiting, 1, -1) <= 0) return false;
    *events = kEventRxChar;
    return true;
  }
  return false;
}

bool CloseSerial(SerialPort port) {
  LinuxPort* p = static_cast<LinuxPort*>(port);
  const bool closed = close(p->fd) == 0;
  delete p;
  return closed;
}

// ---- sockets ----------------------------------------------------------------

bool NetStartup() { return true; }
void NetCleanup() {}

Socket TcpConnect(const char* host, const char* service) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr) return kNoSocket;
  int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
  if (fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
    close(fd);
    fd = -1;
  }
  freeaddrinfo(found);
  return fd < 0 ? kNoSocket : static_cast<Socket>(fd);
}

namespace {
bool PollSocket(Socket s, short events, uint32_t microseconds) {
  pollfd one{static_cast<int>(s), events, 0};
  const timespec limit{0, static_cast<long>(microseconds) * 1000L};
  // Like select, a closed or failed connection counts as readable.
  return ppoll(&one, 1, &limit, nullptr) > 0 && (one.revents & (events | POLLHUP | POLLERR)) != 0;
}
}  // namespace

bool SocketReadable(Socket s, uint32_t microseconds) { return PollSocket(s, POLLIN, microseconds); }
bool SocketWritable(Socket s, uint32_t microseconds) { return PollSocket(s, POLLOUT, microseconds); }

int SocketReceive(Socket s, uint8_t* buffer, int size) {
  return static_cast<int>(recv(static_cast<int>(s), buffer, static_cast<size_t>(size), MSG_DONTWAIT));
}

int SocketSend(Socket s, const uint8_t* bytes, int count) {
  return static_cast<int>(send(static_cast<int>(s), bytes, static_cast<size_t>(count), MSG_NOSIGNAL));
}

void SocketShutdown(Socket s) { shutdown(static_cast<int>(s), SHUT_RDWR); }
void SocketClose(Socket s) { close(static_cast<int>(s)); }

}  // namespace os
