// Linux implementation of the operating-system layer: termios serial ports
// and BSD sockets with the observable behaviour of the Windows calls.

#include "platform/os.h"
#include "platform/os_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string_view>

#include <fcntl.h>
#include <linux/serial.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#if defined(__i386__)
// On i386, fcntl's default version is GLIBC_2.28 (it learned 64-bit locks
// then), which older systems lack; the first one does all that is asked of
// it here (F_DUPFD_CLOEXEC, F_GETFD) and every glibc has it.
__asm__(".symver fcntl,fcntl@GLIBC_2.0");
#endif

namespace os {

// ---- time ---------------------------------------------------------------

namespace {

constexpr uint64_t kNsPerMs = 1000000u;

uint64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

// A wait of ms milliseconds ends when the tick has advanced by ms, at the
// start of that millisecond, as a loop comparing ticks would end: not up to
// a whole millisecond later.
struct Deadline {
  explicit Deadline(uint32_t ms) : ns((NowNs() / kNsPerMs + ms) * kNsPerMs) {}
  // The time still to wait, for ppoll.
  timespec left() const {
    const uint64_t now = NowNs();
    const uint64_t rest = now >= ns ? 0 : ns - now;
    return {static_cast<time_t>(rest / 1000000000u), static_cast<long>(rest % 1000000000u)};
  }
  timespec absolute() const { return {static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)}; }
  uint64_t ns;
};

// poll() with the wait ending at the deadline.
int PollUntil(pollfd* fd, const Deadline& deadline) {
  const timespec left = deadline.left();
  return ppoll(fd, 1, &left, nullptr);
}

}  // namespace

uint32_t Tick() { return static_cast<uint32_t>(NowNs() / kNsPerMs); }
uint64_t MicroTick() { return NowNs() / 1000u; }

void Sleep(uint32_t ms) {
  if (ms == 0) return;
  const timespec until = Deadline(ms).absolute();
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

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

// The open port: the descriptor, the events it was asked to report, how
// long one character takes on the line (set with the line settings), and
// whether it is a UART's (ttyS), whose shift register can be asked.
struct LinuxPort {
  int fd;
  uint32_t events;
  uint32_t charMicroseconds;
  bool uart;
};

constexpr uint32_t kDefaultCharMicroseconds = 1042;  // 10 bits at 9600 baud

int FdOf(SerialPort port) { return static_cast<LinuxPort*>(port)->fd; }

bool IsAbsentError(int error) {
  return error == ENOENT || error == ENXIO || error == ENODEV || error == ENOTDIR;
}

// ttyS nodes exist for every on-board UART the kernel could drive.
bool IsUartNode(const char* path) { return std::strncmp(path, "/dev/ttyS", 9) == 0; }

// The kernel reports PORT_UNKNOWN for a ttyS node with no UART behind it.
bool HasNoUart(int fd, const char* path) {
  if (!IsUartNode(path)) return false;
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
  return info.type == PORT_UNKNOWN;
}

// Opens the node behind a port number as a terminal. Sets *presence to what
// the open found; returns the descriptor or -1.
int OpenPortNode(int port, PortPresence* presence, const char** notUsable = nullptr) {
  char path[64];
  *presence = PortPresence::Absent;
  if (!PathOfPort(port, path, sizeof path)) return -1;
  const int fd = AboveStdio(open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd < 0) {
    if (!IsAbsentError(errno)) *presence = PortPresence::Held;
    return -1;
  }
  const bool terminal = isatty(fd) != 0;
  if (!terminal || HasNoUart(fd, path)) {
    if (notUsable != nullptr) *notUsable = terminal ? "no serial hardware behind the node" : "not a terminal";
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

// The stat calls of glibc's first ABI, with the version of struct stat64
// they fill (_STAT_VER_LINUX): exported by every glibc, old and new.
extern "C" {
int __xstat64(int version, const char* path, struct stat64* node);
int __lxstat64(int version, const char* path, struct stat64* node);
int __fxstat64(int version, int fd, struct stat64* node);
}
#if defined(__x86_64__)
constexpr int kStatVersion = 1;
#elif defined(__i386__)
constexpr int kStatVersion = 3;
#else
#error "the stat calls' version for this architecture is not known"
#endif

bool StatPath(const char* path, struct stat64* node) { return __xstat64(kStatVersion, path, node) == 0; }
bool StatLink(const char* path, struct stat64* node) { return __lxstat64(kStatVersion, path, node) == 0; }
bool StatDescriptor(int fd, struct stat64* node) { return __fxstat64(kStatVersion, fd, node) == 0; }

int AboveStdio(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

bool SerialDeviceName(int port, char* name, std::size_t size) { return PathOfPort(port, name, size); }

namespace {

// What the kernel reports about the UART behind a ttyS node: its type, 0
// (PORT_UNKNOWN) when there is no hardware; -1 when sysfs does not say.
int SysfsUartType(const char* path) {
  const char* name = std::strrchr(path, '/');
  char file[128];
  const int written = std::snprintf(file, sizeof file, "/sys/class/tty/%s/type", name != nullptr ? name + 1 : path);
  if (written <= 0 || static_cast<std::size_t>(written) >= sizeof file) return -1;
  const int fd = AboveStdio(open(file, O_RDONLY | O_NOCTTY | O_CLOEXEC));
  if (fd < 0) return -1;
  char text[16] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0 || text[0] < '0' || text[0] > '9') return -1;
  return std::atoi(text);
}

// The bus of the device a ttyS node sits on, from its sysfs link, which
// anyone may read: "pnp", "pci", "platform"; empty when sysfs does not say.
std::string_view SysfsBus(const char* path, char* bus, std::size_t size) {
  const char* name = std::strrchr(path, '/');
  char link[128];
  const int written = std::snprintf(link, sizeof link, "/sys/class/tty/%s/device/subsystem", name != nullptr ? name + 1 : path);
  if (written <= 0 || static_cast<std::size_t>(written) >= sizeof link) return {};
  const ssize_t n = readlink(link, bus, size - 1);
  if (n <= 0) return {};
  bus[n] = '\0';
  const char* last = std::strrchr(bus, '/');
  return last != nullptr ? std::string_view(last + 1) : std::string_view(bus);
}

// Where the system does not say: open the node for a moment and close it
// again (no lock is taken, so a device opening it meanwhile is not refused).
PortPresence ProbeByOpening(int port) {
  PortPresence presence;
  const int fd = OpenPortNode(port, &presence);
  if (fd >= 0) close(fd);
  return presence;
}

// From the device node and sysfs: the port itself is not opened.
PortPresence ProbeSerial(int port) {
  char path[64];
  struct stat64 node{};
  if (!PathOfPort(port, path, sizeof path) || !StatPath(path, &node) || !S_ISCHR(node.st_mode)) {
    return PortPresence::Absent;
  }
  if (!IsUartNode(path)) return PortPresence::Present;
  const int type = SysfsUartType(path);
  if (type >= 0) return type == PORT_UNKNOWN ? PortPresence::Absent : PortPresence::Present;
  // Older kernels let only root read the type. A port found on a PnP or PCI
  // device has its UART; the serial8250 platform device stands for every
  // port the kernel could drive, with hardware or not: only opening tells.
  char bus[256];
  const std::string_view on = SysfsBus(path, bus, sizeof bus);
  if (on == "pnp" || on == "pci") return PortPresence::Present;
  return ProbeByOpening(port);
}

}  // namespace

int ProbeSerialPorts(int32_t* list) {
  int count = 0;
  for (int port = 1; port <= kMaxPort; ++port) {
    if (ProbeSerial(port) != PortPresence::Absent) list[count++] = port;
  }
  return count;
}

SerialPort OpenSerial(int port, char* why, std::size_t whySize) {
  PortPresence presence;
  const char* notUsable = nullptr;
  errno = 0;
  const int fd = OpenPortNode(port, &presence, &notUsable);
  if (fd < 0) {
    if (notUsable != nullptr) {
      std::snprintf(why, whySize, "%s", notUsable);
    } else {
      LastErrorText(why, whySize);
    }
    return nullptr;
  }
  char holders[160] = "";
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || SerialPortHolders(port, holders, sizeof holders)) {
    const bool named = holders[0] != '\0' || SerialPortHolders(port, holders, sizeof holders);
    std::snprintf(why, whySize, "held by another program%s%s", named ? ": " : "", named ? holders : "");
    close(fd);
    return nullptr;
  }
  // From here on only root may open it beside us.
  ioctl(fd, TIOCEXCL);
  char path[64] = "";
  PathOfPort(port, path, sizeof path);
  return new (std::nothrow) LinuxPort{fd, 0, kDefaultCharMicroseconds, IsUartNode(path)};
}

bool ConfigureSerial(SerialPort port, const LineSettings& line) {
  const int fd = FdOf(port);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0 || !MakeLineTermios(line, &tio)) return false;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  static_cast<LinuxPort*>(port)->charMicroseconds = CharMicroseconds(line);
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

namespace {

// Blocks until a byte is queued. A terminal whose other end has hung up
// reports that at once and for ever, and no byte will come: the time is
// then slept out instead of being polled away.
bool WaitInput(int fd, uint32_t ms, uint32_t* events) {
  const uint32_t start = Tick();
  pollfd waiting{fd, POLLIN, 0};
  const int ready = PollUntil(&waiting, Deadline(ms));
  if (ready < 0) return errno == EINTR;  // nothing reported; the caller asks again
  if ((waiting.revents & POLLNVAL) != 0) return false;
  int queued = 0;
  if (ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) {
    *events = kEventRxChar;
  } else if ((waiting.revents & (POLLHUP | POLLERR)) != 0) {
    Sleep(Left(start, ms));
  }
  return true;
}

// A UART's driver tells when its shift register has sent the last bit. For
// the others the output queue is all there is to wait for: a USB adapter's
// driver may answer too, from status bytes the adapter sends with its data,
// which an adapter that receives nothing never updates.
bool ShiftRegisterEmpty(const LinuxPort* p) {
  unsigned int status = 0;
  if (!p->uart || ioctl(p->fd, TIOCSERGETLSR, &status) != 0) return true;
  return (status & TIOCSER_TEMT) != 0;
}

// Linux reports no event when the transmitter empties, and tcdrain cannot be
// bounded: the output queue is checked, sleeping in between for about as
// long as its bytes take on the line.
bool WaitTransmitted(const LinuxPort* p, uint32_t ms, uint32_t* events) {
  const uint32_t start = Tick();
  for (;;) {
    int pending = 0;
    if (ioctl(p->fd, TIOCOUTQ, &pending) != 0 || pending < 0) return false;
    if (pending == 0 && ShiftRegisterEmpty(p)) {
      *events = kEventTxEmpty;
      return true;
    }
    const uint32_t left = Left(start, ms);
    if (left == 0) return true;
    Sleep(DrainSleepMs(static_cast<uint32_t>(pending), p->charMicroseconds, left));
  }
}

}  // namespace

bool SerialWaitEvent(SerialPort port, uint32_t ms, uint32_t* events) {
  const LinuxPort* p = static_cast<LinuxPort*>(port);
  *events = 0;
  if (p->events & kEventTxEmpty) return WaitTransmitted(p, ms, events);
  if (p->events & kEventRxChar) return WaitInput(p->fd, ms, events);
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

namespace {
bool PollSocket(Socket s, short events, uint32_t ms) {
  pollfd one{static_cast<int>(s), events, 0};
  // Like select, a closed or failed connection counts as ready.
  return PollUntil(&one, Deadline(ms)) > 0 && (one.revents & (events | POLLHUP | POLLERR)) != 0;
}
}  // namespace

bool SocketReadable(Socket s, uint32_t ms) { return PollSocket(s, POLLIN, ms); }
bool SocketWritable(Socket s, uint32_t ms) { return PollSocket(s, POLLOUT, ms); }

int SocketReceive(Socket s, uint8_t* buffer, int size) {
  return static_cast<int>(recv(static_cast<int>(s), buffer, static_cast<size_t>(size), MSG_DONTWAIT));
}

bool SocketQueued(Socket s, uint32_t* bytes) {
  int queued = 0;
  if (ioctl(static_cast<int>(s), FIONREAD, &queued) != 0 || queued < 0) return false;
  *bytes = static_cast<uint32_t>(queued);
  return true;
}

int SocketSend(Socket s, const uint8_t* bytes, int count) {
  return static_cast<int>(send(static_cast<int>(s), bytes, static_cast<size_t>(count), MSG_NOSIGNAL));
}

void SocketShutdown(Socket s) { shutdown(static_cast<int>(s), SHUT_RDWR); }
void SocketClose(Socket s) { close(static_cast<int>(s)); }

}  // namespace os
