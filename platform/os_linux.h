#pragma once
// Linux-only parts of the operating-system layer: the fixed rule that maps a
// serial port number to a device node, the hook tests use to replace it, and
// the rule that keeps the library's descriptors off 0, 1 and 2.

#include <cstddef>

#include "platform/os.h"

struct termios;
struct stat64;

namespace os {

// Raw terminal settings for a line setting: 7 or 8 data bits, no, odd or
// even parity, one or two stop bits, receiver on, no flow control, reads
// that never wait. False for a setting the port cannot take.
bool MakeLineTermios(const LineSettings& line, termios* tio);

// COM port N maps to a device node by one fixed rule:
//   N =   1 ..  64  ->  /dev/ttyS0   .. /dev/ttyS63    (on-board UARTs)
//   N =  65 .. 192  ->  /dev/ttyUSB0 .. /dev/ttyUSB127 (USB serial adapters)
//   N = 193 .. 256  ->  /dev/ttyACM0 .. /dev/ttyACM63  (USB CDC devices)
// False for a number outside 1..256 or a buffer too small.
bool PortDevicePath(int port, char* path, std::size_t size);

// A descriptor of the library's own is never 0, 1 or 2. Those belong to the
// process, and once one of them is closed the system hands it out next: a
// port or a socket there would receive whatever the process writes to its
// standard output or error. Moves fd above them (close-on-exec) and returns
// where it is now; -1, with fd closed, when it cannot be moved.
int AboveStdio(int fd);

// stat, lstat and fstat through the calls that every glibc has: the plain
// names carry the version GLIBC_2.33, which the older systems the library
// loads on lack. False when the call fails.
bool StatPath(const char* path, struct stat64* node);
bool StatLink(const char* path, struct stat64* node);
bool StatDescriptor(int fd, struct stat64* node);

namespace testing {
// Replaces the rule above for the whole process (tests point a port number at
// a pseudo-terminal and make every other port absent); nullptr restores it.
using PortPathRule = bool (*)(int port, char* path, std::size_t size);
void SetPortPathRule(PortPathRule rule);
}  // namespace testing

}  // namespace os
