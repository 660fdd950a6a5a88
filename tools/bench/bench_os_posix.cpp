#include "bench_os.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

namespace bench {
namespace {
constexpr const char* kPortNode = "/dev/ttyUSB0";  // COM65 in the private /dev
}

Sim::Sim(const std::string& path, std::vector<std::string> args) {
  args.insert(args.begin(), path);
  args.push_back("--lifetime");
  args.push_back("600");
  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  FILE* f = fdopen(out[0], "r");
  char line[256];
  if (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
    char word[8], where[200];
    int port = 0;
    if (std::sscanf(line, "tcp %199s %d", where, &port) == 2) port_ = port;
    if (std::sscanf(line, "%7s %199s", word, where) == 2 && std::strcmp(word, "pty") == 0) pty_ = where;
  }
  if (f != nullptr) std::fclose(f);
}

Sim::~Sim() {
  if (pid_ > 0) {
    kill(static_cast<pid_t>(pid_), SIGTERM);
    waitpid(static_cast<pid_t>(pid_), nullptr, 0);
  }
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
  const char* flag = std::getenv("PESOLAN_PRIVATE_DEV");
  if (flag == nullptr || std::strcmp(flag, "1") != 0 || pty.empty()) return false;
  return mount(pty.c_str(), kPortNode, nullptr, MS_BIND, nullptr) == 0;
}

void RemovePty() { umount2(kPortNode, MNT_DETACH); }

}  // namespace bench
