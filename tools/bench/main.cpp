// pesolan-bench: how long one GetWeight takes through the real library, for
// each way a scale can be read, against the floor that the protocol's own
// waits and the wire time impose, and how much CPU time it costs. Prints a
// table, and writes it to a Markdown report and the rows to JSON.
//   pesolan-bench [--lib PATH] [--sim PATH] [--readings N] [--report FILE]
//                 [--append-report FILE --title TEXT] [--json FILE]
// Serial modes need the private /dev of tests/private-dev.sh (root); the
// Windows build measures the TCP modes only.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "addin_host.h"
#include "bench_os.h"
#include "scale_sim_launcher.h"

using host::Arg;

namespace {

constexpr double kByteMs = 10.0 / 9600.0 * 1000.0;  // one character at 9600 baud
constexpr double kLineMs = 18 * kByteMs;             // "ST,GS,  12.345kg" CR LF
constexpr int kPrivateComPort = 65;                  // /dev/ttyUSB0 in the private /dev

#if defined(_WIN32)
constexpr const char* kDefaultLib = "Pesolan.dll";
constexpr const char* kDefaultSim = "scale-sim.exe";
#else
constexpr const char* kDefaultLib = "../libPesolan.so";
constexpr const char* kDefaultSim = "scale-sim";
#endif

struct Mode {
  const char* name;
  bool serial;
  std::vector<std::string> sim;
  double floorMs;
  const char* floorText;
};

const Mode kModes[] = {
    // Lines back to back, as a scale streaming at 9600 baud sends them.
    {"TCP stream", false, {"--mode", "stream", "--interval", "19"}, 80, "80 ms purge wait after the last byte drained"},
    {"TCP request, first way", false, {"--mode", "request"}, 200 + 168 + 80 + 168 + 80,
     "200 purge + 168 + 80 silence after ACK + 168 + 80 silence after the line"},
    {"TCP request, fallback", false, {"--mode", "request", "--enq-reply", "none"}, 200 + 168 + 300 + 168 + 80,
     "200 purge + 168 + 300 without ACK + 168 + 80 silence after the line"},
    // Back-to-back readings start at a line boundary, and the first line a
    // reading sees is always dropped as possibly partial: two whole lines.
    {"serial stream 9600", true, {"--pty", "--mode", "stream", "--wire-speed", "--interval", "1"}, 2 * kLineMs,
     "two 18-byte lines at 9600 baud: the first line a reading sees is dropped as possibly partial"},
    {"serial request 9600", true, {"--pty", "--mode", "request", "--wire-speed"}, 300 + kByteMs + 80 + kLineMs + 80,
     "300 stream watch + ACK on the wire + 80 + 18-byte line on the wire + 80"},
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const double rank = p * static_cast<double>(v.size() - 1);
  const size_t lo = static_cast<size_t>(std::floor(rank));
  const size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (rank - static_cast<double>(lo));
}

using bench::CpuMs;
using bench::NowMs;
using scale_sim::SimProcess;

struct Row {
  std::string mode;
  double floor, median, p95, cpu, cpuRatio;  // cpu: ms per reading; cpuRatio: CPU over wall time
  std::string floorText;
};

bool Configure(host::Component& c, const Mode& mode, const SimProcess& sim) {
  auto param = [&](const char16_t* name, Arg value) {
    return c.Call(u"SetParameter", {Arg::Text(name), std::move(value)}).ok();
  };
  bool ok = param(u"Prm_Connect", Arg::Int(mode.serial ? 0 : 1)) && param(u"Prm_Unit", Arg::Int(3));
  if (mode.serial) return ok && param(u"Prm_RsPort", Arg::Int(kPrivateComPort));
  return ok && param(u"Prm_IP", Arg::Text(u"127.0.0.1")) && param(u"Prm_TcpPort", Arg::Int(sim.port()));
}

bool Measure(host::Library& lib, const std::string& simPath, const Mode& mode, int readings, Row* row) {
  SimProcess sim(simPath, mode.sim, 600);
  if (mode.serial) {
    if (!bench::PlacePty(sim.ptyPath())) return false;
  } else if (sim.port() == 0) {
    return false;
  }
  host::MemoryManager memory;
  host::Connection connection;
  std::vector<double> wall;
  double cpu = 0, wallTotal = 0;
  {
    host::Component c(lib, &memory, &connection);
    if (!Configure(c, mode, sim)) return false;
    const host::CallResult opened = c.Call(u"Open", {Arg::Empty()});
    const std::u16string id = opened.ok() ? opened.argTexts[0] : u"";
    for (int i = -2; i < readings; ++i) {
      const double cpu0 = CpuMs(), t0 = NowMs();
      const host::CallResult r = c.Call(u"GetWeight", {Arg::Text(id), Arg::Empty()});
      const double t1 = NowMs(), cpu1 = CpuMs();
      if (!r.ok()) return false;
      if (i < 0) continue;  // warm-up
      wall.push_back(t1 - t0);
      wallTotal += t1 - t0;
      cpu += cpu1 - cpu0;
    }
    c.Call(u"Close", {Arg::Text(id)});
  }
  if (mode.serial) bench::RemovePty();
  *row = {mode.name,          mode.floorMs, Percentile(wall, 0.5), Percentile(wall, 0.95), cpu / readings,
          cpu / wallTotal, mode.floorText};
  return true;
}

long FileSize(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  return f ? static_cast<long>(f.tellg()) : -1;
}

struct Options {
  std::string lib, sim, report, appendReport, title = "Windows x64 DLL under Wine", json;
  int readings = 25;
  double cpuTarget = 0.02;  // the share of wall time a reading may spend on the CPU
};

Options Parse(int argc, char** argv) {
  std::string self(argv[0]);
  const std::string dir = self.substr(0, self.find_last_of("/\\") + 1);
  Options o;
  o.lib = dir + kDefaultLib;
  o.sim = dir + kDefaultSim;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i], v = argv[i + 1];
    if (a == "--lib") o.lib = v;
    else if (a == "--sim") o.sim = v;
    else if (a == "--readings") o.readings = std::max(2, std::atoi(v.c_str()));
    else if (a == "--report") o.report = v;
    else if (a == "--append-report") o.appendReport = v;
    else if (a == "--title") o.title = v;
    else if (a == "--json") o.json = v;
    else if (a == "--cpu-target") o.cpuTarget = std::atof(v.c_str()) / 100.0;
  }
  return o;
}

bool MeetsTargets(const Row& r, double cpuTarget) {
  return r.median / r.floor <= 1.02 && r.p95 / r.floor <= 1.05 && r.cpuRatio <= cpuTarget;
}

std::string Table(const std::vector<Row>& rows, double cpuTarget) {
  std::ostringstream table;
  char buf[512];
  table << "| mode | floor ms | median ms | p95 ms | median / floor | p95 / floor | CPU ms per reading | CPU / wall "
           "| targets met |\n"
        << "|---|---:|---:|---:|---:|---:|---:|---:|---|\n";
  for (const Row& r : rows) {
    std::snprintf(buf, sizeof buf, "| %s | %.1f | %.1f | %.1f | %.3f | %.3f | %.2f | %.2f%% | %s |\n", r.mode.c_str(),
                  r.floor, r.median, r.p95, r.median / r.floor, r.p95 / r.floor, r.cpu, 100.0 * r.cpuRatio,
                  MeetsTargets(r, cpuTarget) ? "yes" : "no");
    table << buf;
  }
  return table.str();
}

std::string Json(const std::vector<Row>& rows) {
  std::ostringstream js;
  char buf[512];
  js << "[\n";
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    std::snprintf(buf, sizeof buf,
                  "  {\"mode\": \"%s\", \"floor_ms\": %.2f, \"median_ms\": %.2f, \"p95_ms\": %.2f, \"cpu_ms\": %.2f, "
                  "\"cpu_ratio\": %.4f}%s\n",
                  r.mode.c_str(), r.floor, r.median, r.p95, r.cpu, r.cpuRatio, i + 1 < rows.size() ? "," : "");
    js << buf;
  }
  js << "]\n";
  return js.str();
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  return date;
}

void WriteReport(const Options& o, const std::string& table, const std::vector<Row>& rows, const std::string& other) {
  std::ofstream md(o.report);
  md << "# Performance\n\nOne `GetWeight` through the real library (`pesolan-bench`, " << o.readings
     << " readings per mode after two warm-up readings, against `scale-sim`), compared with the floor that the "
        "protocol's own waits and the wire time impose, and the CPU time it costs. Targets: median within 2% and "
        "95th percentile within 5% of the floor; CPU time at most 2% of the wall time (5% under Wine). Every wait "
        "blocks in the system until a byte comes or its time limit passes, so a reading spends nearly all its time "
        "asleep.\n\n"
     << "Measured " << Today() << " on " << bench::Machine() << ", with `make bench`.\n\n"
     << table << "\nFloors:\n\n";
  for (const Row& r : rows) md << "- " << r.mode << ": " << r.floorText << ".\n";
  md << "\nSerial modes run on a pseudo-terminal, with scale-sim pacing its bytes at 9600 baud; the driver's own "
        "request bytes take no wire time there (on a real port each adds about 1 ms).\n\nAlso:\n\n"
     << other;
}

// A section of its own at the end of an existing report (the Wine run).
void AppendReport(const Options& o, const std::string& table) {
  std::ofstream md(o.appendReport, std::ios::app);
  md << "\n## " << o.title << "\n\nThe same measurement of the TCP modes, " << o.readings
     << " readings each, measured " << Today() << ". CPU time is the test program's own (GetProcessTimes); "
        "Wine's server process is not counted. Wine's clock is finer than the 16 ms tick of Windows, so these "
        "latencies are not Windows latencies.\n\n"
     << table;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);

  // Loading: the library and the exports resolved (each unload pauses 128 ms).
  std::vector<double> loads;
  for (int i = 0; i < 5; ++i) {
    const double t0 = NowMs();
    host::Library probe(o.lib);
    loads.push_back(NowMs() - t0);
    if (!probe.ok()) {
      std::fprintf(stderr, "pesolan-bench: %s\n", probe.error().c_str());
      return 3;
    }
  }
  host::Library library(o.lib);

  std::vector<Row> rows;
  std::vector<std::string> skipped;
  for (const Mode& mode : kModes) {
    Row row;
    if (Measure(library, o.sim, mode, o.readings, &row)) {
      rows.push_back(row);
    } else {
      skipped.push_back(mode.name);
    }
  }

  std::vector<double> parameters;
  {
    host::MemoryManager memory;
    host::Connection connection;
    host::Component c(library, &memory, &connection);
    for (int i = 0; i < 10; ++i) {
      const double t0 = NowMs();
      c.Call(u"GetParameters", {Arg::Empty()});
      parameters.push_back(NowMs() - t0);
    }
  }

  const std::string table = Table(rows, o.cpuTarget);
  std::ostringstream other;
  char buf[512];
  std::snprintf(buf, sizeof buf, "- GetParameters (probing COM1 to COM256): median %.2f ms\n", Percentile(parameters, 0.5));
  other << buf;
  std::snprintf(buf, sizeof buf, "- Library load (the library and its four exports): median %.2f ms\n",
                Percentile(loads, 0.5));
  other << buf;
  for (const char* path : {"dist/linux-x86_64/libPesolan.so", "dist/windows-x86_64/Pesolan.dll",
                           "dist/windows-x86/Pesolan.dll", "build/linux/libPesolan.so"}) {
    const long size = FileSize(path);
    if (size >= 0) {
      std::snprintf(buf, sizeof buf, "- Size of %s: %ld bytes\n", path, size);
      other << buf;
    }
  }
  for (const std::string& s : skipped) {
    other << "- " << s << ": not measured (serial modes need Linux and root for a private /dev)\n";
  }
  std::printf("%s\n%s", table.c_str(), other.str().c_str());

  if (!o.report.empty()) WriteReport(o, table, rows, other.str());
  if (!o.appendReport.empty()) AppendReport(o, table);
  if (!o.json.empty()) std::ofstream(o.json) << Json(rows);
  return rows.empty() ? 1 : 0;
}
