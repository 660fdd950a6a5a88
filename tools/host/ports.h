#pragma once
// The serial ports as the driver would find them, with what opening each one
// would meet: for the person installing a scale.

#include <string>
#include <vector>

namespace host {

struct PortState {
  int com;             // the COM number the driver uses
  std::string device;  // the Linux node or the Windows name
  std::string state;   // free, in use, no permission, absent, no UART, cannot open
  std::string detail;  // who holds it, which group to join, why it cannot open
};

// Every COM number from 1 to 256 with its state; absent ones only when all.
std::vector<PortState> ListPorts(bool all);
// One COM number: the system's part (ports_posix.cpp, ports_windows.cpp).
PortState LookAtPort(int com);

}  // namespace host
