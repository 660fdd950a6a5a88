// pesolan-soak: a field day in one process. Loads the built library as the
// platform does, runs sessions in threads against scale-sims driven by a
// seeded schedule of faults, and judges every reading afterwards against
// what the scales sent. Exits non-zero when anything was wrong.
//   pesolan-soak [--seconds N] [--seed N] [--threads N] [--lib PATH]
//                [--scale-sim PATH] [--json FILE] [--markdown FILE]
//                [--no-memory-check] [--keep-sent]

#include <dirent.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "caller.h"
#include "report.h"
#include "schedule.h"

using namespace soak;

namespace {

// COM65..72 are /dev/ttyUSB0..7 in the private /dev of tests/private-dev.sh.
constexpr int kFirstPrivateCom = 65, kPrivateComs = 8;

std::string Beside(const std::string& name) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.find_last_of('/') + 1) + name;
}

bool ParseArgs(int argc, char** argv, Options* o) {
  o->library = Beside("../libPesolan.so");
  o->scaleSim = Beside("scale-sim");
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const std::string v = i + 1 < argc ? argv[i + 1] : "";
    if (a == "--no-memory-check" || a == "--keep-sent") {
      (a == "--keep-sent" ? o->keepSent : o->checkMemory) = a == "--keep-sent";
      continue;
    }
    if (v.empty()) return false;
    ++i;
    if (a == "--seconds") o->seconds = std::atoi(v.c_str());
    else if (a == "--seed") o->seed = std::strtoull(v.c_str(), nullptr, 10);
    else if (a == "--threads") o->threads = std::atoi(v.c_str());
    else if (a == "--lib") o->library = v;
    else if (a == "--scale-sim") o->scaleSim = v;
    else if (a == "--json") o->json = v;
    else if (a == "--markdown") o->markdown = v;
    else return false;
  }
  return o->seconds > 0 && o->threads > 0;
}

std::string NodeOf(int com) { return "/dev/ttyUSB" + std::to_string(com - kFirstPrivateCom); }

// Each session's devices get scales of their own: the first device of each
// of the first eight sessions a serial one (in the private /dev), the rest
// TCP. Returns the scales' indexes by session.
std::vector<std::vector<int>> MakeScales(const Options& o, const std::string& dir, std::vector<Scale>* scales) {
  std::mt19937_64 random(o.seed ^ 0x5ca1e5);
  static const char* const kUnits[] = {"g", "kg", "t"};
  std::vector<std::vector<int>> mine(static_cast<size_t>(o.threads));
  for (int t = 0; t < o.threads; ++t) {
    const int devices = 1 + static_cast<int>(random() % 8);
    for (int d = 0; d < devices; ++d) {
      Scale s;
      s.com = d == 0 && t < kPrivateComs && scale_sim::InPrivateDev() ? kFirstPrivateCom + t : 0;
      s.sentFile = dir + "/sent" + std::to_string(scales->size());
      s.streams = random() % 2 == 0;
      // Half the TCP scales go on making lines while nobody reads and queue
      // them as a converter's buffer does (the backlog a reading must
      // skip); the other half wait. A serial scale, on its wire, neither
      // waits nor queues: what the port does not take is lost. (What waits
      // behind a pseudo-terminal goes out only as fast as its reader takes
      // bytes, at a live line's pace, which no real serial line does.)
      s.sim = std::make_unique<scale_sim::SimProcess>(
          o.scaleSim,
          std::vector<std::string>{s.com != 0 ? "--pty" : "--tcp", "--control", "--sent", s.sentFile, "--mode",
                                   s.streams ? "stream" : "request", "--weight", ScheduledWeight(random()),
                                   "--unit", kUnits[random() % 3], "--unread", s.com != 0 ? (random(), "drop") : random() % 2 != 0 ? "wait" : "queue"},
          o.seconds + 120);
      if (s.com != 0 && mount(s.sim->ptyPath().c_str(), NodeOf(s.com).c_str(), nullptr, MS_BIND, nullptr) != 0) {
        std::perror("pesolan-soak: placing a serial scale");
        s.com = 0;
      }
      mine[static_cast<size_t>(t)].push_back(static_cast<int>(scales->size()));
      scales->push_back(std::move(s));
    }
  }
  return mine;
}

std::vector<Sent> ReadSent(const std::string& file) {
  std::vector<Sent> sent;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    char* rest = nullptr;
    const int64_t began = std::strtoll(line.c_str(), &rest, 10);
    const int64_t ended = std::strtoll(rest, &rest, 10);
    const int64_t made = std::strtoll(rest, &rest, 10);
    if (*rest != ' ') continue;
    sent.push_back({began, ended, made, rest + 1});
  }
  return sent;
}

// Sessions run for seconds; their calls go into calls.
long RunSessions(host::Library& library, const std::vector<Scale>& scales, const std::vector<std::vector<int>>& mine,
                 uint64_t seed, int seconds, std::vector<Call>* calls) {
  std::vector<std::unique_ptr<Caller>> callers;
  for (size_t t = 0; t < mine.size(); ++t) callers.push_back(std::make_unique<Caller>(library, scales, mine[t], seed + t));
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (auto& c : callers) threads.emplace_back([&c, until] { c->Run(until); });
  for (auto& t : threads) t.join();
  long unexpected = 0;
  for (auto& c : callers) {
    calls->insert(calls->end(), c->calls.begin(), c->calls.end());
    unexpected += c->unexpected;
  }
  return unexpected;
}

long OpenDescriptors() {
  long n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

long ResidentKb() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// All 256 slots are free: 32 components open 8 devices each on one scale
// without an error, and one device more finds no slot.
bool EverySlotFree(host::Library& library, const std::string& scaleSim) {
  scale_sim::SimProcess sim(scaleSim, {"--tcp"}, 120);
  std::vector<std::unique_ptr<host::MemoryManager>> memories;
  std::vector<std::unique_ptr<host::Connection>> connections;
  std::vector<std::unique_ptr<host::Component>> components;
  bool free = true;
  for (int c = 0; c <= 32; ++c) {
    memories.push_back(std::make_unique<host::MemoryManager>());
    connections.push_back(std::make_unique<host::Connection>());
    components.push_back(std::make_unique<host::Component>(library, memories.back().get(), connections.back().get()));
    host::Component& component = *components.back();
    component.Call(u"SetParameter", {host::Arg::Text(u"Prm_Connect"), host::Arg::Int(1)});
    component.Call(u"SetParameter", {host::Arg::Text(u"Prm_IP"), host::Arg::Text(u"127.0.0.1")});
    component.Call(u"SetParameter", {host::Arg::Text(u"Prm_TcpPort"), host::Arg::Int(sim.port())});
    for (int d = 0; d < (c < 32 ? 8 : 1); ++d) {
      component.Call(u"Open", {host::Arg::Empty()});
      const host::CallResult error = component.Call(u"GetLastError", {host::Arg::Empty()});
      free = free && error.result.lVal == (c < 32 ? 0 : 101);
    }
  }
  // Each component pauses for each device it lets go of: all at once.
  std::vector<std::thread> destroyers;
  for (auto& c : components) destroyers.emplace_back([&c] { c.reset(); });
  for (auto& t : destroyers) t.join();
  return free;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, &o)) {
    std::fputs("usage: pesolan-soak [--seconds N] [--seed N] [--threads N] [--lib PATH] [--scale-sim PATH]\n"
               "                    [--json FILE] [--markdown FILE] [--no-memory-check] [--keep-sent]\n",
               stderr);
    return 2;
  }
  host::Library library(o.library);
  if (!library.ok()) {
    std::fprintf(stderr, "pesolan-soak: %s\n", library.error().c_str());
    return 3;
  }
  char dir[] = "/tmp/pesolan-soak.XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  std::vector<Scale> scales;
  const std::vector<std::vector<int>> mine = MakeScales(o, dir, &scales);

  std::atomic<bool> stop{false};
  long events = 0;
  std::thread schedule([&] { events = RunSchedule(scales, o.seed, stop); });
  std::vector<Call> calls;
  // The warm-up: every session once, so that the library, the process's
  // heaps and the sessions' first allocations are all there; then the run.
  const int warmUp = o.seconds / 10 > 2 ? o.seconds / 10 : 2;
  long unexpected = RunSessions(library, scales, mine, o.seed * 1000, warmUp, &calls);
  const long descriptors = OpenDescriptors(), resident = ResidentKb();
  unexpected += RunSessions(library, scales, mine, o.seed * 1000 + 100, o.seconds, &calls);
  stop = true;
  schedule.join();

  Findings f;
  f.seed = o.seed;
  f.seconds = o.seconds;
  f.events = events;
  f.unexpectedAnswers = unexpected;
  f.descriptorDrift = OpenDescriptors() - descriptors;
  f.residentDriftKb = ResidentKb() - resident;
  f.memoryChecked = o.checkMemory;
  f.slotsFree = EverySlotFree(library, o.scaleSim);
  std::vector<std::vector<Sent>> sent;
  std::vector<bool> streams;
  for (Scale& s : scales) {
    streams.push_back(s.streams);
    if (s.com != 0) umount2(NodeOf(s.com).c_str(), MNT_DETACH);
    s.sim.reset();  // its --sent file is complete
    sent.push_back(ReadSent(s.sentFile));
    if (!o.keepSent) std::remove(s.sentFile.c_str());
  }
  if (o.keepSent) {
    std::printf("the scales' --sent files are kept in %s\n", dir);
  } else {
    rmdir(dir);
  }
  f.wallLessMonotonicNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch()).count() - Now();
  f.Judge(calls, sent, streams);

  if (std::FILE* json = std::fopen(o.json.c_str(), "w")) {
    std::fputs(Json(f).c_str(), json);
    std::fclose(json);
  }
  if (!o.markdown.empty()) std::ofstream(o.markdown) << Markdown(f);
  std::fputs(Markdown(f).c_str(), stdout);
  for (const std::string& w : f.wrongWeights) std::printf("WRONG WEIGHT %s\n", w.c_str());
  for (const std::string& w : f.liveRefused) std::printf("LIVE SCALE REFUSED %s\n", w.c_str());
  for (const std::string& w : f.overBound) std::printf("OVER BOUND %s\n", w.c_str());
  return f.Passed() ? 0 : 1;
}
