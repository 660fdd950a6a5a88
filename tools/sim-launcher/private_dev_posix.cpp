#include <fstream>
#include <sstream>
#include <string>

#include "scale_sim_launcher.h"

namespace scale_sim {

// The topmost mount on /dev, as /proc/self/mountinfo lists it: "ID PARENT
// MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [TAGS...] - FSTYPE SOURCE SUPER".
bool InPrivateDev() {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string type, source;
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    fields >> id >> parent >> device >> root >> point;
    const size_t dash = line.find(" - ");
    if (point != "/dev" || dash == std::string::npos) continue;
    std::istringstream rest(line.substr(dash + 3));
    rest >> type >> source;
  }
  return type == "tmpfs" && source == "pesolan-dev";
}

}  // namespace scale_sim
