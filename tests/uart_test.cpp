// The serial channel on the kernel's own drivers, in the test machine that
// tools/test-rig/run.sh boots (make test-uart): an ISA 16550A (ttyS1,
// COM2), a PCI UART (ttyS4, COM5) and an FTDI USB adapter (ttyUSB0, COM65),
// each with a scale-sim on the host at the other end of its line. ttyS0 is
// the machine's console: no test opens it. Outside the machine every test
// skips itself.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "support/addin_fixture.h"
#include "support/open_counter.h"
#include "support/sim_process.h"
#include "support/text.h"

using namespace testing_support;

namespace {

struct PortKind {
  const char* name;
  int com;
  const char* node;
};
const PortKind kPorts[] = {{"Uart", 2, "/dev/ttyS1"}, {"Pci", 5, "/dev/ttyS4"}, {"Usb", 65, "/dev/ttyUSB0"}};
const PortKind& kUsb = kPorts[2];
const char* const kEveryNode[] = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3",  "/dev/ttyS4",
                                  "/dev/ttyS5", "/dev/ttyS6", "/dev/ttyS7", "/dev/ttyUSB0"};
constexpr gid_t kDialout = 20;
constexpr uid_t kNobody = 65534;

// The host's socket behind a port of the machine, from PESOLAN_RIG_PORTS
// ("ttyS1=PATH,ttyS4=PATH,ttyUSB0=PATH"); empty outside the machine.
std::string SocketOf(const PortKind& port) {
  const char* ports = std::getenv("PESOLAN_RIG_PORTS");
  if (ports == nullptr) return "";
  const std::string all = ports, key = std::string(port.node + 5) + "=";
  const size_t at = all.find(key);
  if (at == std::string::npos) return "";
  const size_t end = all.find(',', at);
  return all.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

#define REQUIRE_MACHINE(port) \
  if (SocketOf(port).empty()) GTEST_SKIP() << "only in the test machine (make test-uart)"

// A scale-sim on the host on the port's line, paced at 9600 baud unless it
// drips slower.
std::unique_ptr<SimProcess> ScaleOn(const PortKind& port, std::vector<std::string> args) {
  const bool drips = std::find(args.begin(), args.end(), "--drip") != args.end();
  args.insert(args.end(), {"--attach", SocketOf(port)});
  if (!drips) args.push_back("--wire-speed");
  return std::make_unique<SimProcess>(args);
}

// A QMP command for the machine, through the broker on the host.
bool Machine(const std::string& json) {
  std::string answer;
  return scale_sim::AskBroker("qmp " + json, &answer) && answer == "ok";
}

// Waits for a node to go or to come; a node that came is left as udev
// leaves serial ports: for group dialout.
bool WaitFor(const char* node, bool present) {
  for (int i = 0; i < 300; ++i, usleep(20000)) {
    if ((access(node, F_OK) == 0) != present) continue;
    return !present || (chown(node, 0, kDialout) == 0 && chmod(node, 0660) == 0);
  }
  return false;
}

class RealPort : public AddInTest, public ::testing::WithParamInterface<PortKind> {
 protected:
  const PortKind& port() const { return GetParam(); }
  std::u16string OpenWith(int attrs, int unit) {
    addin.UseSerial(port().com, unit);
    EXPECT_TRUE(addin.Set(u"Prm_ConnAttrs", Arg::Int(attrs)));
    return addin.Open();
  }
  double Read(const std::u16string& id) {
    double weight = -1;
    return addin.Weight(id, &weight) ? weight : -1;
  }
};

INSTANTIATE_TEST_SUITE_P(EveryKind, RealPort, ::testing::ValuesIn(kPorts),
                         [](const auto& p) { return std::string(p.param.name); });

// Both line settings are taken by the real drivers (a pseudo-terminal
// refuses 7 data bits with parity), the port then reports them, and stream
// and request readings come out exact in either unit.
TEST_P(RealPort, BothLineSettingsAreTakenAndReadingsAreExact) {
  REQUIRE_MACHINE(port());
  for (const int attrs : {0, 1}) {
    for (const char* mode : {"stream", "request"}) {
      const auto sim = ScaleOn(port(), {"--mode", mode, "--weight", "1234.56", "--unit", "g"});
      ASSERT_TRUE(sim->ok());
      for (const int unit : {2, 3}) {
        const std::u16string id = OpenWith(attrs, unit);
        ASSERT_EQ(addin.LastError(), 0) << mode << " with --attrs " << attrs;
        const int fd = open(port().node, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);  // root may, beside it
        termios tio{};
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        close(fd);
        EXPECT_EQ(tio.c_cflag & CSIZE, attrs == 1 ? CS7 : CS8);
        EXPECT_EQ((tio.c_cflag & PARENB) != 0, attrs == 1);
        EXPECT_EQ(tio.c_cflag & PARODD, 0u);
        EXPECT_EQ(cfgetispeed(&tio), B9600);
        EXPECT_EQ(Read(id), unit == 2 ? 1234.56 : 1.234) << mode << " with --attrs " << attrs << " in unit " << unit;
        addin.Close(id);
      }
    }
  }
}

// The waits as the suite knows them from pseudo-terminals, on real drivers:
// the ways a reading takes, a silent scale, and bytes that are no weight
// lines, each ended within its limits.
TEST_P(RealPort, TheWaysAndTheirLimitsHold) {
  REQUIRE_MACHINE(port());
  const TraceCapture trace;
  const auto check = [&](std::vector<std::string> args, double weight, const std::vector<std::string>& ways) {
    const auto sim = ScaleOn(port(), args);
    ASSERT_TRUE(sim->ok());
    const std::u16string id = OpenWith(0, 3);
    trace.Clear();
    Stopwatch watch;
    EXPECT_EQ(Read(id), weight) << args[1];
    EXPECT_LT(watch.ms(), 5000) << args[1];
    for (const std::string& way : ways) EXPECT_TRUE(trace.Has(way)) << args[1] << ": " << trace.Text();
    if (weight < 0) {
      EXPECT_EQ(addin.LastError(), 106) << args[1];
    }
    addin.Close(id);
  };
  check({"--mode", "stream"}, 12.345, {"way: stream"});
  check({"--mode", "request"}, 12.345, {"way: ENQ, then DC1"});
  check({"--mode", "request", "--enq-reply", "nak"}, 12.345, {"way: ENQ DC1 together"});
  check({"--mode", "silent"}, -1, {"no reply within 350 ms", "way: ENQ DC1 together"});
  check({"--mode", "junk-long"}, -1, {"bytes without a weight line"});
}

// A port another program holds is refused, lock or no lock, and its holder
// named; a port the driver holds is no other program's to open.
TEST_P(RealPort, APortHeldElsewhereIsRefusedAndAnOpenPortIsExclusive) {
  REQUIRE_MACHINE(port());
  const auto sim = ScaleOn(port(), {"--mode", "stream"});
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    const int fd = open(port().node, O_RDWR | O_NOCTTY);  // no lock
    (void)!write(ready[1], fd >= 0 ? "y" : "n", 1);
    pause();
    _exit(0);
  }
  char said = 0;
  ASSERT_EQ(read(ready[0], &said, 1), 1);
  ASSERT_EQ(said, 'y');
  const TraceCapture trace;
  addin.UseSerial(port().com, 3);
  addin.Open();
  EXPECT_EQ(addin.LastError(), 104);
  EXPECT_TRUE(trace.Has("held by another program: uart_tests (pid " + std::to_string(holder) + ")")) << trace.Text();
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);

  const std::u16string id = addin.Open();
  ASSERT_EQ(addin.LastError(), 0);
  const pid_t other = fork();
  if (other == 0) {
    const gid_t groups[] = {kDialout};
    if (setgroups(1, groups) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    const int fd = open(port().node, O_RDWR | O_NOCTTY | O_NONBLOCK);
    _exit(fd >= 0 ? 0 : errno);
  }
  int status = 0;
  waitpid(other, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), EBUSY) << "a second opener is refused while it is open";
  EXPECT_EQ(Read(id), 12.345);
  addin.Close(id);
}

// The COM numbers the settings page lists.
std::vector<int> ListedPorts(AddIn& addin) {
  const CallResult r = addin.Call(u"GetParameters", {Arg::Empty()});
  const std::u16string xml = r.argTexts.empty() ? u"" : r.argTexts[0];
  const std::string text(xml.begin(), xml.end());
  std::vector<int> ports;
  const std::string item = "<Item Value=\"";
  for (size_t at = 0; (at = text.find(item, at)) != std::string::npos;) {
    at += item.size();
    const size_t end = text.find_first_not_of("0123456789", at);
    if (end > at && text.compare(end, 5, "\">COM") == 0) ports.push_back(std::atoi(text.substr(at, end - at).c_str()));
  }
  return ports;
}

// Exactly the ports with hardware behind them are listed: the console's,
// the two UARTs and the adapter; the ttyS nodes with no UART are not. The
// list is made without opening any port; an Open opens its own only.
TEST(RealPorts, TheSettingsListThePortsWithHardwareAndOpenNone) {
  REQUIRE_MACHINE(kUsb);
  host::Library library(PESOLAN_LIBRARY_PATH);
  AddIn addin(library);
  OpenCounter opens({std::begin(kEveryNode), std::end(kEveryNode)});
  ASSERT_TRUE(opens.ok());
  EXPECT_EQ(ListedPorts(addin), (std::vector<int>{1, 2, 5, 65}));
  EXPECT_EQ(opens.TakeTotal(), 0);
  const auto sim = ScaleOn(kPorts[0], {});
  addin.UseSerial(2, 3);
  const std::u16string id = addin.Open();
  const std::map<std::string, int> opened = opens.Take();
  EXPECT_EQ(opened, (std::map<std::string, int>{{"/dev/ttyS1", 1}}));
  addin.Close(id);
}

// Older kernels let only root read a port's UART type. Then the device the
// port sits on tells (PnP and PCI ports have their UART), and only the ports
// of the serial8250 platform device are opened to find out: the list is the
// same, and the console is never opened.
TEST(RealPorts, WithTheUartTypeUnreadableTheListIsTheSame) {
  REQUIRE_MACHINE(kUsb);
  const char* const types[] = {"/sys/class/tty/ttyS0/type", "/sys/class/tty/ttyS1/type", "/sys/class/tty/ttyS2/type",
                               "/sys/class/tty/ttyS3/type", "/sys/class/tty/ttyS4/type", "/sys/class/tty/ttyS5/type",
                               "/sys/class/tty/ttyS6/type", "/sys/class/tty/ttyS7/type"};
  for (const char* type : types) ASSERT_EQ(chmod(type, 0400), 0) << type;
  OpenCounter opens({std::begin(kEveryNode), std::end(kEveryNode)});
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t user = fork();
  if (user == 0) {
    const gid_t groups[] = {kDialout};
    if (setgroups(1, groups) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    host::Library library(PESOLAN_LIBRARY_PATH);
    if (!library.ok()) {
      const std::string why = "no library: " + library.error();
      (void)!write(out[1], why.data(), why.size());
      _exit(3);
    }
    AddIn addin(library);
    std::string listed;
    for (const int com : ListedPorts(addin)) listed += std::to_string(com) + " ";
    (void)!write(out[1], listed.data(), listed.size());
    _exit(0);
  }
  close(out[1]);
  char buffer[256] = {};
  const ssize_t n = read(out[0], buffer, sizeof buffer - 1);
  close(out[0]);
  waitpid(user, nullptr, 0);
  for (const char* type : types) chmod(type, 0444);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), "1 2 5 65 ");
  const std::map<std::string, int> opened = opens.Take();
  EXPECT_EQ(opened.count("/dev/ttyS0"), 0u) << "the console";
  EXPECT_EQ(opened.count("/dev/ttyS1"), 0u) << "on PnP";
  EXPECT_EQ(opened.count("/dev/ttyS4"), 0u) << "on PCI";
  EXPECT_EQ(opened.count("/dev/ttyS2"), 1u) << "on the platform device: opened to tell";
}

// The adapter pulled out, as happens at a till: during a stream reading,
// during a request reading, and between Open and GetWeight. Each call ends
// within its limits with a defined code, leaves no descriptor behind, and
// once it is plugged in again Close and Open read weights again.
TEST(RealPorts, AnAdapterPulledOutEndsTheCallsAndIsReadAgainWhenBack) {
  REQUIRE_MACHINE(kUsb);
  host::Library library(PESOLAN_LIBRARY_PATH);
  AddIn addin(library);
  const std::string plug =
      "{\"execute\":\"device_add\",\"arguments\":{\"driver\":\"usb-serial\",\"chardev\":\"usb\",\"id\":\"ftdi\","
      "\"serial\":\"SCALE42\",\"always-plugged\":true}}";
  const std::string unplug = "{\"execute\":\"device_del\",\"arguments\":{\"id\":\"ftdi\"}}";
  for (const std::string when : {"stream", "request", "between"}) {
    // Dripped slowly, so that the reading is still under way.
    const auto sim = ScaleOn(kUsb, {"--mode", when == "request" ? "request" : "stream", "--drip", "20"});
    const int descriptors = testing_support::OpenDescriptors();
    addin.UseSerial(kUsb.com, 3);
    const std::u16string id = addin.Open();
    ASSERT_EQ(addin.LastError(), 0) << when;
    double weight = 0;
    Stopwatch watch;
    if (when == "between") {
      ASSERT_TRUE(Machine(unplug));
      ASSERT_TRUE(WaitFor(kUsb.node, false));
      watch = Stopwatch();
      EXPECT_FALSE(addin.Weight(id, &weight)) << when;
    } else {
      auto reading = std::async(std::launch::async, [&] { return addin.Weight(id, &weight); });
      usleep(when == "request" ? 500000 : 200000);  // the dialogue is under way
      ASSERT_EQ(reading.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
          << when << ": the reading was over before the adapter went, so this tried nothing";
      ASSERT_TRUE(Machine(unplug));
      EXPECT_FALSE(reading.get()) << when;
    }
    EXPECT_LT(watch.ms(), 5000) << when;
    const int code = addin.LastError();
    EXPECT_TRUE(code == 0 || code == 104 || code == 106) << when << ": " << code;
    EXPECT_FALSE(addin.Weight(id, &weight)) << when << ": the adapter is gone";
    EXPECT_TRUE(addin.Close(id));
    EXPECT_EQ(testing_support::OpenDescriptors(), descriptors) << when;
    ASSERT_TRUE(Machine(plug)) << when;
    ASSERT_TRUE(WaitFor(kUsb.node, true)) << when;
    const TraceCapture trace;
    const std::u16string again = addin.Open();
    ASSERT_EQ(addin.LastError(), 0) << when;
    EXPECT_TRUE(addin.Weight(again, &weight)) << when << ": " << trace.Text();
    EXPECT_EQ(weight, 12.345) << when;
    addin.Close(again);
  }
  // What pesolan ports says of it: its vendor and product and serial number.
  FILE* p = popen((std::string(PESOLAN_PATH) + " --lib " + PESOLAN_LIBRARY_PATH + " ports 2>&1").c_str(), "r");
  std::string ports;
  for (char line[512]; p != nullptr && std::fgets(line, sizeof line, p) != nullptr;) ports += line;
  if (p != nullptr) pclose(p);
  const size_t line = ports.find("COM65   /dev/ttyUSB0 ");
  const std::string listed = line == std::string::npos ? "" : ports.substr(line, ports.find('\n', line) - line);
  EXPECT_NE(listed.find("USB 0403:6001"), std::string::npos) << ports;
  EXPECT_NE(listed.find("serial SCALE42"), std::string::npos) << ports;
}

// A scale on a wire streams while nobody reads the port: the tty fills,
// throttles the adapter, and the adapter's own buffer keeps the oldest
// lines, which a purge of the port does not reach. Then the scale falls
// silent, or streams a new weight: no reading gives the old one.
TEST(RealPorts, TheAdaptersOldBytesAreNeverTheWeight) {
  REQUIRE_MACHINE(kUsb);
  host::Library library(PESOLAN_LIBRARY_PATH);
  AddIn addin(library);
  addin.UseSerial(kUsb.com, 2);
  const std::u16string id = addin.Open();
  ASSERT_EQ(addin.LastError(), 0);
  const TraceCapture trace;
  int fresh = 0, streamingRead = 0;
  // Two scales one after the other, each within a scale-sim's lifetime.
  std::unique_ptr<SimProcess> sim;
  for (int cycle = 0; cycle < 30; ++cycle) {
    if (cycle % 15 == 0) sim = ScaleOn(kUsb, {"--control", "--unread", "drop", "--weight", "70062", "--unit", "g"});
    ASSERT_TRUE(sim->ok());
    ASSERT_TRUE(sim->Command("weight 70062"));
    ASSERT_TRUE(sim->Command("interval 5"));
    // Nobody reads: the tty fills and throttles the adapter, whose buffer
    // then keeps the oldest lines (2 s were too few to throttle it).
    usleep(6000000);
    ASSERT_TRUE(sim->Command("weight 11111"));
    ASSERT_TRUE(sim->Command(cycle % 2 == 0 ? "interval 60000" : "interval 100"));
    trace.Clear();
    double weight = 0;
    if (!addin.Weight(id, &weight)) continue;
    ++fresh;
    streamingRead += cycle % 2;
    // Any other weight is the old one, or a mixture: the reading's trace
    // says which bytes it took for the scale's.
    EXPECT_EQ(weight, 11111) << "reading " << cycle << ", its trace:\n" << trace.Text();
  }
  addin.Close(id);
  EXPECT_EQ(streamingRead, 15) << "a scale that streams the new weight behind the old bytes is read every time";
  EXPECT_LE(fresh - streamingRead, 15);
}

}  // namespace
