#include "bench_os.h"
#include "scale_sim_launcher.h"

#include <sys/mount.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

namespace bench {
namespace {
constexpr const char* kPortNode = "/dev/ttyUSB0";  // COM65 in the private /dev
}

// The scheduler's own count of the time the process ran: getrusage samples
// it per clock tick, too coarse for a reading that wakes a few dozen times.
double CpuMs() {
  timespec used{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
  return static_cast<double>(used.tv_sec) * 1000.0 + static_cast<double>(used.tv_nsec) / 1e6;
}

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Machine() {
  utsname u{};
  uname(&u);
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, model = "unknown processor";
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + u.sysname + " " + u.release;
}

bool PlacePty(const std::string& pty) {
  if (!scale_sim::InPrivateDev() || pty.empty()) return false;
  return mount(pty.c_str(), kPortNode, nullptr, MS_BIND, nullptr) == 0;
}

void RemovePty() { umount2(kPortNode, MNT_DETACH); }

}  // namespace bench
