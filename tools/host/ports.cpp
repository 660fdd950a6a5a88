#include "ports.h"

namespace host {

std::vector<PortState> ListPorts(bool all) {
  std::vector<PortState> ports;
  for (int com = 1; com <= 256; ++com) {
    PortState p = LookAtPort(com);
    if (all || p.state != "absent") ports.push_back(p);
  }
  return ports;
}

}  // namespace host
