// Claiming a slot and opening the channel: TCP against scale-sim on loopback,
// serial against scale-sim's pseudo-terminal mapped to a COM port number.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "channel/error_codes.h"
#include "support/devices.h"
#include "support/offline.h"
#include "support/text.h"
#include "support/messages.h"

using namespace pesolan;
using namespace testing_support;

namespace {

class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSlotTable();
    UnmapAllPorts();
  }
  void TearDown() override { UnmapAllPorts(); }
};

TEST_F(ConnectTest, TcpDeviceClaimsAReadySlotAndDisconnectFreesIt) {
  SimProcess sim({"--tcp"});
  ASSERT_TRUE(sim.ok());
  DeviceHandle h;
  ASSERT_TRUE(Connect(h, TcpSettings(sim.port())));
  const int index = SlotOf(h);
  ASSERT_EQ(index, 0);
  EXPECT_TRUE(SlotTable[index].ready);
  EXPECT_EQ(SlotTable[index].channelKind, Tcp);
  EXPECT_NE(SlotTable[index].socket, os::kNoSocket);
  EXPECT_EQ(SlotTable[index].settings.tcpPort, sim.port());
  EXPECT_STREQ(SlotTable[index].settings.ip, "127.0.0.1");
  EXPECT_EQ(GetError(h), NoError);

  EXPECT_TRUE(Disconnect(h));  // (its 8 ms, and 640 ms unready: virtual time)
  EXPECT_EQ(SlotTable[index].key, 0);
  EXPECT_EQ(SlotTable[index].socket, os::kNoSocket);
}

TEST_F(ConnectTest, SecondDeviceTakesTheNextFreeSlotAndReusesFreedOnes) {
  SimProcess sim({"--tcp"});
  DeviceHandle a, b, c;
  ASSERT_TRUE(Connect(a, TcpSettings(sim.port())));
  ASSERT_TRUE(Connect(b, TcpSettings(sim.port())));
  EXPECT_EQ(SlotOf(a), 0);
  EXPECT_EQ(SlotOf(b), 1);
  Disconnect(a);
  ASSERT_TRUE(Connect(c, TcpSettings(sim.port())));
  EXPECT_EQ(SlotOf(c), 0);
}

TEST_F(ConnectTest, With256SlotsClaimedTheNextDeviceIsRefused) {
  SimProcess sim({"--tcp"});
  std::vector<std::unique_ptr<DeviceHandle>> devices;
  for (int i = 0; i < 256; ++i) {
    devices.push_back(std::make_unique<DeviceHandle>());
    ASSERT_TRUE(Connect(*devices.back(), TcpSettings(sim.port()))) << "device " << i;
  }
  DeviceHandle extra;
  EXPECT_FALSE(Connect(extra, TcpSettings(sim.port())));
  char message[kMessageSize];
  int32_t number = 0;
  EXPECT_EQ(GetError(extra, message, &number), Too_Many_Instances);
  EXPECT_EQ(Cp1251ToUtf8(message), Message(101));
  EXPECT_EQ(number, 101);
  EXPECT_EQ(SlotOf(extra), -1);

  devices.pop_back();  // releasing a handle disconnects it
  EXPECT_TRUE(Connect(extra, TcpSettings(sim.port())));
  EXPECT_EQ(SlotOf(extra), 255);
  EXPECT_EQ(GetError(extra), NoError) << "the limit error is cleared once a slot is found";
}

TEST_F(ConnectTest, UnknownConnectionTypeIsASettingsErrorWithoutASlot) {
  for (int32_t type : {0, 3, -1}) {
    DeviceHandle h;
    ChannelSettings s = TcpSettings(1);
    s.connType = type;
    EXPECT_FALSE(Connect(h, s));
    EXPECT_EQ(GetError(h), Channel_Settings_Error);
    EXPECT_EQ(SlotOf(h), -1);
  }
}

TEST_F(ConnectTest, RefusedConnectionLeavesCode5InTheClaimedSlot) {
  DeviceHandle h;
  const ClosedTcpPort closed;
  EXPECT_FALSE(Connect(h, TcpSettings(closed.port())));
  char message[kMessageSize];
  EXPECT_EQ(GetError(h, message), Tcp_Connect_Error);
  EXPECT_EQ(Cp1251ToUtf8(message), Message(105));
  EXPECT_EQ(h.lastError, NoError) << "the code lives in the slot, not in the guard";
  const int index = SlotOf(h);
  ASSERT_GE(index, 0);
  EXPECT_FALSE(SlotTable[index].ready);

  Stopwatch watch;
  Disconnect(h);
  EXPECT_GE(watch.ms(), 640 - kTickSlack) << "a slot that never became ready is waited for";
  EXPECT_LT(watch.ms(), 5000);
  EXPECT_EQ(SlotTable[index].key, 0);
}

TEST_F(ConnectTest, EveryOtherTcpFailureAlsoLeavesCode5) {
  const std::string unresolved = Offline([] {
    DeviceHandle h;
    const bool connected = Connect(h, TcpSettings(80, "nohost.invalid"));
    return std::to_string(connected) + " " + std::to_string(GetError(h));
  });
  REQUIRE_OFFLINE(unresolved);
  EXPECT_EQ(unresolved, "0 " + std::to_string(Tcp_Connect_Error)) << "a name that does not resolve";
  DeviceHandle tooLongPort, negativePort;
  EXPECT_FALSE(Connect(tooLongPort, TcpSettings(10000000)));
  EXPECT_EQ(GetError(tooLongPort), Tcp_Connect_Error) << "a port text of 8 characters does not fit";
  EXPECT_FALSE(Connect(negativePort, TcpSettings(-5)));
  EXPECT_EQ(GetError(negativePort), Tcp_Connect_Error);
}

// An address is four decimal numbers from 0 to 255: a leading zero is read
// as decimal, and any other form of number names no device at all. Tried in
// a network namespace of loopback alone, where a wrong reading of 0127.0.0.1
// (octal: 87.0.0.1) could reach nothing.
TEST_F(ConnectTest, AnAddressIsFourDecimalNumbersAndNoOtherForm) {
  const std::string outcome = Offline([] {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (bind(listener, reinterpret_cast<sockaddr*>(&at), size) != 0 || listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
      return std::string("no listener");
    }
    std::string result;
    for (const char* host : {"0127.0.000.001", "127.1", "2130706433", "127.0.0.256", "0x7f.0.0.1", "127.0.0.1."}) {
      DeviceHandle h;
      const TraceCapture trace;
      const bool connected = Connect(h, TcpSettings(ntohs(at.sin_port), host));
      result += std::string(host) + (connected ? " connected" : " refused") +
                (trace.Has("is no IPv4 address") ? " (no address)" : "") + "; ";
    }
    return result;
  });
  REQUIRE_OFFLINE(outcome);
  EXPECT_EQ(outcome,
            "0127.0.000.001 connected; 127.1 refused (no address); 2130706433 refused (no address); "
            "127.0.0.256 refused (no address); 0x7f.0.0.1 refused (no address); 127.0.0.1. refused (no address); ");
}

// A listener whose backlog is full drops the connection's SYN, as a firewall
// does: the open gives up after 5 s, not after the system's two minutes.
TEST_F(ConnectTest, AConnectionThatIsNeverAnsweredEndsAfterFiveSeconds) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), size), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size), 0);
  std::vector<int> waiting;  // never accepted: they fill the backlog
  for (int i = 0; i < 4; ++i) {
    const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    connect(c, reinterpret_cast<sockaddr*>(&at), size);
    waiting.push_back(c);
  }
  DeviceHandle h;
  const TraceCapture trace;
  Stopwatch watch;
  EXPECT_FALSE(Connect(h, TcpSettings(ntohs(at.sin_port))));
  EXPECT_GE(watch.ms(), 5000 - kTickSlack);
  EXPECT_LT(watch.ms(), 5000 + 5000);
  EXPECT_EQ(GetError(h), Tcp_Connect_Error);
  EXPECT_TRUE(trace.Has("timed out after")) << trace.Text();
  for (const int c : waiting) close(c);
  close(listener);
}

// A resolver that never answers: the lookup gives up within the open's 5 s
// (a resolver's own limit is 5 s a try, and it tries again).
TEST_F(ConnectTest, ALookupThatIsNeverAnsweredEndsWithinFiveSeconds) {
  const std::string outcome = Offline([] {
    const int deaf = socket(AF_INET, SOCK_DGRAM, 0);  // takes the queries, answers none
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(deaf, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return std::string("no resolver");
    DeviceHandle h;
    const TraceCapture trace;
    Stopwatch watch;
    const bool connected = Connect(h, TcpSettings(4000, "scale-far"));
    const long ms = watch.ms();
    return std::string(connected ? "connected" : "refused") + (ms >= 5000 - kTickSlack && ms < 8000 ? " in 5 s" : " in " + std::to_string(ms) + " ms") +
           (trace.Has("timed out after") ? " (timed out)" : "");
  });
  REQUIRE_OFFLINE(outcome);
  EXPECT_EQ(outcome, "refused in 5 s (timed out)");
}

TEST_F(ConnectTest, PortNumbersOutsideTheTcpRangeNeverReachAnotherService) {
  SimProcess sim({"--tcp"});
  // 65536 more than the scale's port is the same port to a resolver that
  // wraps; it must be refused, not connected.
  for (int32_t port : {0, 65536, sim.port() + 65536, 70000}) {
    DeviceHandle h;
    EXPECT_FALSE(Connect(h, TcpSettings(port))) << port;
    EXPECT_EQ(GetError(h), Tcp_Connect_Error) << port;
    EXPECT_EQ(h.lastError, NoError) << "as a refused connection: the code is in the slot";
  }
  DeviceHandle h;
  EXPECT_TRUE(Connect(h, TcpSettings(sim.port())));
}

// With the standard descriptors closed the system hands out 0, 1 and 2
// next: a socket or port there would get whatever the process reads or
// writes there.
TEST_F(ConnectTest, ADeviceNeverTakesDescriptorsZeroToTwo) {
  SimProcess tcp({"--tcp"}), pty({"--pty"});
  MapPort(kSimPort, pty.ptyPath());
  int saved[3];
  for (int fd = 0; fd < 3; ++fd) ASSERT_GE(saved[fd] = dup(fd), 3);
  for (int fd = 0; fd < 3; ++fd) close(fd);
  DeviceHandle a, b;
  const bool tcpOpened = Connect(a, TcpSettings(tcp.port()));
  const bool serialOpened = Connect(b, SerialSettings(kSimPort));
  bool stillClosed = true;
  for (int fd = 0; fd < 3; ++fd) stillClosed = stillClosed && fcntl(fd, F_GETFD) == -1;
  for (int fd = 0; fd < 3; ++fd) {
    dup2(saved[fd], fd);
    close(saved[fd]);
  }
  ASSERT_TRUE(tcpOpened);
  ASSERT_TRUE(serialOpened);
  EXPECT_TRUE(stillClosed) << "a channel took one of descriptors 0 to 2";
}

TEST_F(ConnectTest, DecimalSeparatorFollowsTheLocaleAtConnect) {
  SimProcess sim({"--tcp"});
  {
    ScopedLocale comma(kCommaLocale);
    ASSERT_TRUE(comma.ok()) << "the ru_RU.UTF-8 locale is needed (see .ci/run)";
    DeviceHandle h;
    ASSERT_TRUE(Connect(h, TcpSettings(sim.port())));
    EXPECT_EQ(DecimalSeparator, ',');
  }
  DeviceHandle h;
  ASSERT_TRUE(Connect(h, TcpSettings(sim.port())));
  EXPECT_EQ(DecimalSeparator, '.');
}

// ---- serial ---------------------------------------------------------------

TEST_F(ConnectTest, SerialDeviceOpensTheMappedPortRawAt9600) {
  SimProcess sim({"--pty"});
  ASSERT_TRUE(sim.ok());
  MapPort(kSimPort, sim.ptyPath());
  DeviceHandle h;
  ASSERT_TRUE(Connect(h, SerialSettings(kSimPort)));
  const int index = SlotOf(h);
  EXPECT_TRUE(SlotTable[index].ready);
  EXPECT_EQ(SlotTable[index].channelKind, Serial);
  EXPECT_NE(SlotTable[index].comHandle, nullptr);

  // The line settings belong to the terminal: read them from another open.
  const int fd = open(sim.ptyPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio{};
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  close(fd);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & PARENB, 0u);
  EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u) << "raw";

  Disconnect(h);
  EXPECT_EQ(SlotTable[index].comHandle, nullptr);
}

TEST_F(ConnectTest, ProbeListsPresentPortsInAscendingOrder) {
  SimProcess a({"--pty"}), b({"--pty"});
  MapPort(200, a.ptyPath());
  MapPort(3, b.ptyPath());
  MapPort(40, "/nonexistent/tty");
  int32_t list[os::kMaxPort];
  ASSERT_EQ(ProbePorts(list), 2);
  EXPECT_EQ(list[0], 3);
  EXPECT_EQ(list[1], 200);
  EXPECT_EQ(FindSlot(0), 0) << "probing claims no slot";
}

TEST_F(ConnectTest, NoSerialPortsAtAllGivesCode3AndOpensNothing) {
  DeviceHandle h;
  EXPECT_FALSE(Connect(h, SerialSettings(1)));
  char message[kMessageSize];
  EXPECT_EQ(GetError(h, message), No_Serial_Ports);
  EXPECT_EQ(Cp1251ToUtf8(message), Message(103));
  const int index = SlotOf(h);
  ASSERT_GE(index, 0) << "the slot stays claimed until Disconnect";
  EXPECT_EQ(SlotTable[index].comHandle, nullptr);
}

TEST_F(ConnectTest, AbsentPortWhileOthersExistGivesCode4) {
  SimProcess sim({"--pty"});
  MapPort(kSimPort, sim.ptyPath());
  for (int32_t rsPort : {9, 0, 257}) {
    DeviceHandle h;
    EXPECT_FALSE(Connect(h, SerialSettings(rsPort))) << "COM" << rsPort;
    char message[kMessageSize];
    EXPECT_EQ(GetError(h, message), Port_Open_Error) << "COM" << rsPort;
    EXPECT_EQ(Cp1251ToUtf8(message), Message(104));
    EXPECT_EQ(h.lastError, Port_Open_Error);
  }
}

TEST_F(ConnectTest, PortHeldElsewhereIsPresentButCannotBeOpened) {
  SimProcess sim({"--pty"});
  MapPort(kSimPort, sim.ptyPath());
  const int holder = open(sim.ptyPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  DeviceHandle h;
  int32_t list[os::kMaxPort];
  EXPECT_EQ(ProbePorts(list), 1) << "a held port still counts as present";
  EXPECT_FALSE(Connect(h, SerialSettings(kSimPort)));
  EXPECT_EQ(GetError(h), Port_Open_Error);
  close(holder);

  DeviceHandle again;
  EXPECT_TRUE(Connect(again, SerialSettings(kSimPort))) << "free again once the holder lets go";
}

TEST_F(ConnectTest, AnOpenPortIsExclusive) {
  SimProcess sim({"--pty"});
  MapPort(kSimPort, sim.ptyPath());
  DeviceHandle first, second;
  ASSERT_TRUE(Connect(first, SerialSettings(kSimPort)));
  EXPECT_FALSE(Connect(second, SerialSettings(kSimPort)));
  EXPECT_EQ(GetError(second), Port_Open_Error);
  Disconnect(first);
  DeviceHandle third;
  EXPECT_TRUE(Connect(third, SerialSettings(kSimPort))) << "closing releases the port";
}

TEST_F(ConnectTest, UnsupportedLineSettingsGiveCode4AndCloseThePort) {
  SimProcess sim({"--pty"});
  MapPort(kSimPort, sim.ptyPath());
  ChannelSettings s = SerialSettings(kSimPort);
  s.byteSize = 5;
  DeviceHandle h;
  EXPECT_FALSE(Connect(h, s));
  EXPECT_EQ(GetError(h), Port_Open_Error);
  EXPECT_EQ(SlotTable[SlotOf(h)].comHandle, nullptr);
  Disconnect(h);
  DeviceHandle again;
  EXPECT_TRUE(Connect(again, SerialSettings(kSimPort))) << "the port was not left open";
}

}  // namespace
