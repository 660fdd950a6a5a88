// pesolan: the driver from the command line. Loads the add-in library as the
// platform does and calls its driver methods.

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <locale.h>
#include <unistd.h>
#endif

#include "addin_host.h"
#include "cli_options.h"
#include "pesolan_version.h"
#include "ports.h"
#include "explain.h"
#include "find.h"
#include "session.h"
#include "say.h"
#include "trace_tap.h"
#include "utf.h"
#include "weight.h"
#include "words.h"

using namespace host;

namespace {

// The path without ".." and "." steps: what --version shows.
std::string CleanPath(const std::string& path) {
#if defined(_WIN32)
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : path;
#else
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  const std::string clean = real;
  std::free(real);
  return clean;
#endif
}

// The library's names: as the build makes it, and as the package has it
// for this program's processor width.
#if defined(_WIN32)
const char* const kLibraryNames[] = {"Pesolan.dll", sizeof(void*) == 8 ? "Pesolan-windows-x86_64.dll"
                                                                      : "Pesolan-windows-x86.dll"};
#else
const char* const kLibraryNames[] = {"libPesolan.so", sizeof(void*) == 8 ? "libPesolan-linux-x86_64.so"
                                                                        : "libPesolan-linux-x86.so"};
#endif
// Where it is looked for: beside the program, then one and two folders up
// (the package unpacked above the tools' folders; the build's tree).
const char* const kLibraryFolders[] = {"", "../", "../../"};

std::string DefaultLibrary() {
#if defined(_WIN32)
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string dir(self, n);
#else
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir(self, n > 0 ? static_cast<size_t>(n) : 0);
#endif
  dir = dir.substr(0, dir.find_last_of("/\\") + 1);
  for (const char* folder : kLibraryFolders) {
    for (const char* name : kLibraryNames) {
      const std::string candidate = dir + folder + name;
      if (FILE* f = std::fopen(candidate.c_str(), "rb")) {
        std::fclose(f);
        return CleanPath(candidate);
      }
    }
  }
  return kLibraryNames[0];  // the system's search, last
}

// A library that did not load: why, where pesolan looked and what to do.
int LoadFailure(const Options& o, const std::string& path, const std::string& error) {
  const std::string message = "the library " + path + " does not load";
  if (!o.lib.empty()) return Refuse(o, 3, message, error, "check the path given with --lib");
  return Refuse(o, 3, message, error,
                "pesolan looked for " + std::string(kLibraryNames[0]) + " or " + kLibraryNames[1] +
                    " beside itself and one and two folders up, then where the system looks for libraries;"
                    " name it with --lib PATH");
}

// Whether the system has the locale: the driver would take any name and
// quietly keep the one it had.
bool LocaleExists(const std::string& name) {
#if defined(_WIN32)
  _locale_t l = _create_locale(LC_ALL, name.c_str());
  if (l != nullptr) _free_locale(l);
#else
  locale_t l = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
  if (l != static_cast<locale_t>(nullptr)) freelocale(l);
#endif
  return l != nullptr;
}

// Standard output that takes nothing (a full disk, /dev/full) is a
// failure, said once: the output it kept fails again at exit.
int OutputFailed() {
  static bool said = false;
  if (!said) std::fprintf(stderr, "pesolan: cannot write the output: %s\n", std::strerror(errno));
  said = true;
  return 1;
}

int Document(Session& s, const char16_t* method, const char* key) {
  const CallResult r = s.Call(method, {Arg::Empty()});
  if (!r.ok()) return s.ReportError();
  if (s.o_.json) {
    std::printf("%s,\"%s\":%s}\n", JsonOpen(true).c_str(), key, JsonString(r.argTexts[0]).c_str());
  } else {
    std::printf("%s\n", Utf8(r.argTexts[0]).c_str());
  }
  return 0;
}

int Test(Session& s) {
  const std::string refused = s.Configure(ChannelOf(s.o_));
  if (!refused.empty()) return UsageError(s.o_, refused);
  const CallResult r = s.Call(u"DeviceTest", {Arg::Empty(), Arg::Empty()});
  const std::u16string report = r.argTexts.empty() ? std::u16string() : r.argTexts[0];
  if (!r.ok()) return s.ReportError();  // the report is the driver's message, which this gives with its number
  if (s.o_.json) {
    std::printf("%s,\"report\":%s}\n", JsonOpen(true).c_str(), JsonString(report).c_str());
  } else {
    std::printf("%s\n", Utf8(report).c_str());
  }
  return 0;
}

int Ports(const Options& o) {
  const std::vector<PortState> ports = ListPorts(o.all);
  if (o.json) {
    std::string out = JsonOpen(true) + ",\"ports\":[";
    for (const PortState& p : ports) {
      out += std::string(&p == &ports.front() ? "" : ",") + "{\"com\":" + std::to_string(p.com) +
             ",\"device\":" + JsonText(p.device) + ",\"state\":" + JsonText(p.state) +
             (p.detail.empty() ? "" : ",\"detail\":" + JsonText(p.detail)) + p.identity.Json() + "}";
    }
    std::printf("%s]}\n", out.c_str());
    return 0;
  }
  if (ports.empty()) std::fprintf(stderr, "pesolan: %s\n", L("no serial port found (pesolan ports --all lists every COM number)"));
  for (const PortState& p : ports) {
    const std::string what = p.identity.Text();
    std::printf("COM%-4d %-16s %s%s%s%s%s\n", p.com, p.device.c_str(), L(p.state.c_str()), p.detail.empty() ? "" : ": ",
                p.detail.c_str(), what.empty() ? "" : "; ", what.c_str());
  }
  return 0;
}

// The driver version that the library's description document gives.
std::string DriverVersion(Library& lib) {
  MemoryManager memory;
  Connection connection;
  Component component(lib, &memory, &connection);
  const CallResult r = component.Call(u"GetDescription", {Arg::Empty()});
  const std::string xml = r.ok() ? Utf8(r.argTexts[0]) : "";
  const size_t at = xml.find("DriverVersion=\"");
  if (at == std::string::npos) return "";
  const size_t begin = at + std::strlen("DriverVersion=\"");
  return xml.substr(begin, xml.find('"', begin) - begin);
}

int Version(const Options& o, const std::string& path) {
  Library lib(path);
  const std::string driver = lib.ok() ? DriverVersion(lib) : "";
  if (o.json) {
    const std::string failure =
        lib.ok() ? "" : FailureFields(0, "the library " + path + " does not load", lib.error(), "name it with --lib PATH");
    std::printf("%s%s,\"version\":%s,\"library\":%s,\"driver_version\":%s}\n", JsonOpen(lib.ok()).c_str(),
                failure.c_str(), JsonText(PESOLAN_VERSION).c_str(), JsonText(path).c_str(), JsonText(driver).c_str());
  } else {
    std::printf("pesolan %s\nlibrary: %s%s\ndriver version: %s\n", PESOLAN_VERSION, path.c_str(),
                lib.ok() ? "" : (" (does not load: " + lib.error() + ")").c_str(), driver.c_str());
  }
  return lib.ok() ? 0 : 3;
}

int Run(Library& lib, const Options& o) {
  Session s(lib, o);
  if (!s.ok()) return Refuse(o, 3, "the library created no component", "", "check that the library is Pesolan's");
  if (o.command == "describe") return Document(s, u"GetDescription", "description");
  if (o.command == "settings") return Document(s, u"GetParameters", "settings");
  if (o.command == "actions") return Document(s, u"GetAdditionalActions", "actions");
  if (o.command == "weight") return Weight(s);
  if (o.command == "find") return Find(s);
  return Test(s);
}

// --json, for a signal handler: every outcome is one JSON object.
volatile std::sig_atomic_t g_json = 0;

// Ctrl+C during a reading lets it end (within its own time limits, about a
// second), so that its result and its trace are kept, and then ends
// the program; between readings, or at a second Ctrl+C, it ends at once.
// Either way with the status shells give an interrupted program (with
// --json, after an object that says so). SIGTERM, a hang-up (an SSH session
// dropped) and a closed output pipe end it as they always did. None leaves
// the trace's temporary file behind.
void OnSignal(int sig) {
  if (sig == SIGINT && EndAfterThisReading()) {
    std::signal(SIGINT, OnSignal);  // where the system reset it, the second one still ends at once
    return;
  }
  RemoveTraceFileNow();
  if (sig == SIGINT) {
#if defined(_WIN32)
    if (g_json != 0) std::fputs(kInterruptedJson, stdout), std::fflush(stdout);
#else
    if (g_json != 0) (void)!write(1, kInterruptedJson, std::strlen(kInterruptedJson));
#endif
    SayWatchSummaryNow();
    std::_Exit(kInterruptedStatus);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void HandleSignals(const Options& o) {
  g_json = o.json ? 1 : 0;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
#if !defined(_WIN32)
  std::signal(SIGHUP, OnSignal);
  std::signal(SIGPIPE, OnSignal);
#endif
}

// Descriptors 0 to 2 that the caller closed (`2>&-`) are opened onto
// /dev/null: otherwise the next file, port or socket opened takes the
// number, and what is written to standard output or error goes there.
void KeepStandardDescriptors() {
#if !defined(_WIN32)
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
#endif
}

}  // namespace

int main(int argc, char** argv) {
  KeepStandardDescriptors();
#if defined(_WIN32)
  SetConsoleOutputCP(CP_UTF8);
#endif
  Options o;
  std::string wrong = ParseArgs(argc, argv, &o);
  UseLanguage(LanguageOf(o.lang));
  if (o.help) {
    if (o.json) {
      std::printf("%s,\"usage\":%s}\n", JsonOpen(true).c_str(), JsonText(kUsage).c_str());
    } else {
      std::fputs(kUsage, stdout);
    }
    return 0;
  }
  if (wrong.empty() && !LocaleExists(o.locale)) wrong = "--locale '" + o.locale + "': the system has no such locale";
  if (!wrong.empty()) return UsageError(o, wrong);
  const std::string path = o.lib.empty() ? DefaultLibrary() : o.lib;
  if (o.version) return Version(o, path);
  if (o.command == "ports") {
    const int status = Ports(o);
    return std::fflush(stdout) != 0 || std::ferror(stdout) ? OutputFailed() : status;
  }
  HandleSignals(o);
  Library lib(path);
  if (!lib.ok()) return LoadFailure(o, path, lib.error());
  const int status = Run(lib, o);
  if (status < 0 || std::fflush(stdout) != 0 || std::ferror(stdout)) return OutputFailed();
  return status;
}
