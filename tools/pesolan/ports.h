#pragma once
// The serial ports as the driver would find them, with what opening each one
// would meet: for the person installing a scale.

#include <string>
#include <vector>

#include "port_identity.h"

namespace host {

struct PortState {
  int com;             // the COM number the driver uses
  std::string device;  // the Linux node or the Windows name
  std::string state;   // free, in use, no permission, absent, no UART, cannot open
  std::string detail;  // who holds it, which group to join, why it cannot open
  PortIdentity identity;  // what the port is, for a port that exists
};

// The ports that exist (the platform layer's presence test, which opens
// none), or every COM number from 1 to 256 when all, each with its state
// and what it is.
std::vector<PortState> ListPorts(bool all);
// One COM number: the system's part (ports_posix.cpp, ports_windows.cpp).
PortState LookAtPort(int com);

}  // namespace host
