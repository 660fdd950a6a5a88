#include "ports.h"

#include "platform/os.h"

namespace host {

std::vector<PortState> ListPorts(bool all) {
  std::vector<PortState> ports;
  int32_t present[os::kMaxPort];
  const int count = os::ProbeSerialPorts(present);
  for (int com = 1, next = 0; com <= os::kMaxPort; ++com) {
    const bool exists = next < count && present[next] == com;
    if (exists) ++next;
    if (!exists && !all) continue;
    PortState p = LookAtPort(com);
    if (p.state != "absent") p.identity = IdentifyPort(p.device);
    ports.push_back(p);
  }
  return ports;
}

}  // namespace host
