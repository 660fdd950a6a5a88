// pesolan: the driver from the command line. Loads the add-in library as the
// platform does and calls its driver methods.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "addin_host.h"
#include "utf.h"

using namespace host;

namespace {

const char* const kUsage =
    "usage: pesolan [--lib PATH] [--locale NAME] [--json] COMMAND [OPTIONS]\n"
    "commands:\n"
    "  describe               the driver's description document\n"
    "  settings               the settings page, with the serial ports found\n"
    "  actions                the additional actions document\n"
    "  weight CHANNEL [--unit 0..4] [--allow-unstable] [--watch [--interval MS] [--count N]]\n"
    "                         open the scale and read its weight\n"
    "  test CHANNEL [--unit 0..4] [--allow-unstable]\n"
    "                         the driver's device test report\n"
    "CHANNEL: --tcp HOST:PORT | --com N [--attrs 0|1]\n"
    "units: 0 as on the scale, 1 mg, 2 g, 3 kg, 4 t\n"
    "exit status: 0 success, 1 the device failed, 2 usage, 3 the library did not load\n";

const char* const kUnitNames[] = {"", " mg", " g", " kg", " t"};

struct Options {
  std::string lib;
  std::string locale = "C";
  bool json = false;
  std::string command;
  std::string tcpHost;
  int tcpPort = 0;
  int com = 0;
  int attrs = 0;
  int unit = 0;
  bool allowUnstable = false;
  bool watch = false;
  int intervalMs = 1000;
  int count = 0;  // 0: until interrupted
};

volatile std::sig_atomic_t g_interrupted = 0;

std::string DefaultLibrary() {
#if defined(_WIN32)
  const char* name = "Pesolan.dll";
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string dir(self, n);
#else
  const char* name = "libPesolan.so";
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir(self, n > 0 ? static_cast<size_t>(n) : 0);
#endif
  dir = dir.substr(0, dir.find_last_of("/\\") + 1);
  for (const std::string& candidate : {dir + name, dir + "../../" + name, dir + "../" + name}) {
    if (FILE* f = std::fopen(candidate.c_str(), "rb")) {
      std::fclose(f);
      return candidate;
    }
  }
  return name;
}

bool ParseNumber(const char* text, int* out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  *out = static_cast<int>(v);
  return true;
}

bool ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](int* out) { return next != nullptr && ParseNumber(argv[++i], out); };
    if (a == "--json") o->json = true;
    else if (a == "--allow-unstable") o->allowUnstable = true;
    else if (a == "--watch") o->watch = true;
    else if (a == "--lib" && next) o->lib = argv[++i];
    else if (a == "--locale" && next) o->locale = argv[++i];
    else if (a == "--tcp" && next) {
      const std::string target = argv[++i];
      const size_t colon = target.rfind(':');
      if (colon == std::string::npos || !ParseNumber(target.c_str() + colon + 1, &o->tcpPort)) return false;
      o->tcpHost = target.substr(0, colon);
    } else if (a == "--com") { if (!number(&o->com)) return false; }
    else if (a == "--attrs") { if (!number(&o->attrs)) return false; }
    else if (a == "--unit") { if (!number(&o->unit)) return false; }
    else if (a == "--interval") { if (!number(&o->intervalMs)) return false; }
    else if (a == "--count") { if (!number(&o->count)) return false; }
    else if (a[0] != '-' && o->command.empty()) o->command = a;
    else return false;
  }
  return !o->command.empty();
}

class Session {
 public:
  Session(Library& lib, const Options& o) : o_(o), component_(lib, &memory_, &connection_, Utf16(o.locale)) {}
  bool ok() { return component_.ok(); }

  CallResult Call(const std::u16string& method, std::vector<Arg> args) {
    return component_.Call(method, std::move(args));
  }

  // Sets the channel and reading parameters; false with a message on refusal.
  bool Configure() {
    const bool tcp = !o_.tcpHost.empty();
    if (!tcp && o_.com == 0) return Fail("choose a channel: --tcp HOST:PORT or --com N");
    std::vector<std::pair<std::u16string, Arg>> params = {
        {u"Prm_Connect", Arg::Int(tcp ? 1 : 0)},
        {u"Prm_Unit", Arg::Int(o_.unit)},
        {u"Prm_NoStable", Arg::Int(o_.allowUnstable ? 1 : 0)},
    };
    if (tcp) {
      params.push_back({u"Prm_IP", Arg::Text(Utf16(o_.tcpHost))});
      params.push_back({u"Prm_TcpPort", Arg::Int(o_.tcpPort)});
    } else {
      params.push_back({u"Prm_RsPort", Arg::Int(o_.com)});
      params.push_back({u"Prm_ConnAttrs", Arg::Int(o_.attrs)});
    }
    for (auto& p : params) {
      if (!Call(u"SetParameter", {Arg::Text(p.first), p.second}).ok())
        return Fail("the driver refused " + Utf8(p.first));
    }
    return true;
  }

  // The driver's last error number and message.
  int LastError(std::u16string* message) {
    const CallResult r = Call(u"GetLastError", {Arg::Empty()});
    *message = r.argTexts.empty() ? std::u16string() : r.argTexts[0];
    return r.result.vt == host::VT_I4 ? r.result.lVal : 0;
  }

  int ReportError() {
    std::u16string message;
    const int code = LastError(&message);
    if (o_.json) {
      std::printf("{\"ok\":false,\"error\":%d,\"message\":%s}\n", code, JsonString(message).c_str());
    } else {
      std::printf("error %d: %s\n", code, Utf8(message).c_str());
    }
    return 1;
  }

  bool Fail(const std::string& why) {
    std::fprintf(stderr, "pesolan: %s\n", why.c_str());
    return false;
  }

  const Options& o_;
  MemoryManager memory_;
  Connection connection_;
  Component component_;
};

int Document(Session& s, const char16_t* method, const char* key) {
  const CallResult r = s.Call(method, {Arg::Empty()});
  if (!r.ok()) return s.ReportError();
  if (s.o_.json) {
    std::printf("{\"ok\":true,\"%s\":%s}\n", key, JsonString(r.argTexts[0]).c_str());
  } else {
    std::printf("%s\n", Utf8(r.argTexts[0]).c_str());
  }
  return 0;
}

int Weight(Session& s) {
  if (!s.Configure()) return 2;
  const CallResult opened = s.Call(u"Open", {Arg::Empty()});
  if (!opened.ok()) return s.ReportError();
  const std::u16string id = opened.argTexts[0];
  std::u16string message;
  if (s.LastError(&message) != 0) {
    const int status = s.ReportError();
    s.Call(u"Close", {Arg::Text(id)});
    return status;
  }
  int status = 0;
  for (int n = 0; !g_interrupted; ++n) {
    const CallResult r = s.Call(u"GetWeight", {Arg::Text(id), Arg::Empty()});
    if (r.ok() && s.o_.json) {
      std::printf("{\"ok\":true,\"weight\":%.6g,\"unit\":%d}\n", r.args[1].dblVal, s.o_.unit);
    } else if (r.ok()) {
      std::printf("%.6g%s\n", r.args[1].dblVal, kUnitNames[s.o_.unit >= 0 && s.o_.unit <= 4 ? s.o_.unit : 0]);
    } else {
      status = s.ReportError();
    }
    std::fflush(stdout);
    if (!s.o_.watch || (s.o_.count > 0 && n + 1 >= s.o_.count)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(s.o_.intervalMs));
  }
  s.Call(u"Close", {Arg::Text(id)});
  return status;
}

int Test(Session& s) {
  if (!s.Configure()) return 2;
  const CallResult r = s.Call(u"DeviceTest", {Arg::Empty(), Arg::Empty()});
  const std::u16string report = r.argTexts.empty() ? std::u16string() : r.argTexts[0];
  if (s.o_.json) {
    std::printf("{\"ok\":%s,\"report\":%s}\n", r.ok() ? "true" : "false", JsonString(report).c_str());
  } else {
    std::printf("%s\n", Utf8(report).c_str());
  }
  return r.ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, &o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::signal(SIGINT, [](int) { g_interrupted = 1; });
#if defined(_WIN32)
  SetConsoleOutputCP(CP_UTF8);
#endif
  Library lib(o.lib.empty() ? DefaultLibrary() : o.lib);
  if (!lib.ok()) {
    std::fprintf(stderr, "pesolan: %s\n", lib.error().c_str());
    return 3;
  }
  int status = 2;
  {
    Session s(lib, o);
    if (!s.ok()) {
      std::fprintf(stderr, "pesolan: the library created no component\n");
      return 3;
    }
    if (o.command == "describe") status = Document(s, u"GetDescription", "description");
    else if (o.command == "settings") status = Document(s, u"GetParameters", "settings");
    else if (o.command == "actions") status = Document(s, u"GetAdditionalActions", "actions");
    else if (o.command == "weight") status = Weight(s);
    else if (o.command == "test") status = Test(s);
    else std::fputs(kUsage, stderr);
  }
  return status;
}
