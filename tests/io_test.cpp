// The five channel operations and their time limits, over loopback TCP and a
// pseudo-terminal. Lower bounds are checked tightly, upper bounds generously.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "channel/io.h"
#include "support/devices.h"
#include "support/text.h"

using namespace pesolan;
using namespace testing_support;

namespace {

constexpr uint8_t ENQ = 0x05, ACK = 0x06, DC1 = 0x11;
constexpr long kSlack = 400;  // generous allowance for a busy machine

// A device connected to a scale-sim started with args, over TCP or serial.
struct Bench {
  // Every device frees its slot when it goes, so tests need no reset here
  // (which would drop the open channel of another device of the same test).
  Bench(bool serial, std::vector<std::string> args) {
    args.push_back(serial ? "--pty" : "--tcp");
    sim = std::make_unique<SimProcess>(args);
    if (serial) MapPort(kSimPort, sim->ptyPath());
    connected = Connect(device, serial ? SerialSettings(kSimPort) : TcpSettings(sim->port()));
    index = SlotOf(device);
  }
  ~Bench() { UnmapAllPorts(); }
  std::unique_ptr<SimProcess> sim;
  DeviceHandle device;
  bool connected = false;
  int index = -1;
};

class ChannelIo : public ::testing::TestWithParam<bool> {
 protected:
  bool serial() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(BothChannels, ChannelIo, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Serial" : "Tcp"; });

TEST_P(ChannelIo, ReadByteWithoutDataAnswersFalseWithZeroAfterItsLimit) {
  Bench b(serial(), {"--mode", "silent"});
  ASSERT_TRUE(b.connected);
  uint8_t byte = 0x55;
  Stopwatch watch;
  EXPECT_FALSE(ReadByte(b.index, &byte));
  EXPECT_EQ(byte, 0);
  EXPECT_GE(watch.ms(), (serial() ? 80 : 128) - kTickSlack);
  EXPECT_LT(watch.ms(), (serial() ? 80 : 128) + kSlack);
}

TEST_P(ChannelIo, ReadReplyWithNoReplyLeavesBufferAndCountAlone) {
  Bench b(serial(), {"--mode", "silent"});
  ASSERT_TRUE(b.connected);
  uint8_t buffer[kReplySize];
  std::memset(buffer, 0xAB, sizeof buffer);
  int count = -7;
  Stopwatch watch;
  EXPECT_FALSE(ReadReply(b.index, buffer, &count));
  EXPECT_GE(watch.ms(), (serial() ? 350 : 300) - kTickSlack);
  EXPECT_LT(watch.ms(), 350 + kSlack);
  EXPECT_EQ(count, -7);
  EXPECT_EQ(buffer[0], 0xAB);
}

TEST_P(ChannelIo, LoneAckReplyEndsAfter80MsOfSilence) {
  Bench b(serial(), {"--mode", "request"});
  ASSERT_TRUE(b.connected);
  ASSERT_TRUE(SendBytes(b.index, &ENQ, 1));
  uint8_t buffer[kReplySize] = {};
  int count = 0;
  Stopwatch watch;
  ASSERT_TRUE(ReadReply(b.index, buffer, &count));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(buffer[0], ACK);
  EXPECT_GE(watch.ms(), 80 - kTickSlack);
  EXPECT_LT(watch.ms(), 80 + kSlack);
}

TEST_P(ChannelIo, ReplyIsCutAt22BytesAndTheRestStaysQueued) {
  const std::string line = "ST,GS,  12.345kg 0123456789";  // 27 bytes, 29 with CR LF
  Bench b(serial(), {"--mode", "request", "--line", line});
  ASSERT_TRUE(b.connected);
  ASSERT_TRUE(SendBytes(b.index, &DC1, 1));
  uint8_t buffer[kReplySize] = {};
  int count = 0;
  ASSERT_TRUE(ReadReply(b.index, buffer, &count));
  ASSERT_EQ(count, 22);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 22), line.substr(0, 22));
  ASSERT_TRUE(ReadReply(b.index, buffer, &count));
  EXPECT_EQ(count, 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 7), line.substr(22) + "\r\n");
}

TEST_P(ChannelIo, StreamingScaleIsDetectedAndSilentOneIsNot) {
  Bench streaming(serial(), {"--mode", "stream"});
  ASSERT_TRUE(streaming.connected);
  Stopwatch watch;
  EXPECT_TRUE(WaitForData(streaming.index));
  EXPECT_LT(watch.ms(), 300 + kSlack);

  Bench silent(serial(), {"--mode", "silent"});
  ASSERT_TRUE(silent.connected);
  Stopwatch quiet;
  EXPECT_FALSE(WaitForData(silent.index));
  // Serial: 300 ms watching the queue; TCP: the 200 ms drain of the purge.
  EXPECT_GE(quiet.ms(), (serial() ? 300 : 200) - kTickSlack);
  EXPECT_LT(quiet.ms(), 300 + kSlack);
}

TEST_P(ChannelIo, RequestsOfOneToTwentyTwoBytesAreSent) {
  Bench b(serial(), {"--mode", "silent"});
  ASSERT_TRUE(b.connected);
  const uint8_t request[23] = {ENQ, DC1};
  EXPECT_TRUE(SendBytes(b.index, request, 2));
  EXPECT_TRUE(SendBytes(b.index, request, 22));
  EXPECT_FALSE(SendBytes(b.index, request, 0));
  EXPECT_FALSE(SendBytes(b.index, request, 23));
}

TEST_P(ChannelIo, ASlotWithoutAnOpenChannelAnswersFalseAtOnce) {
  Bench b(serial(), {"--mode", "stream"});
  ASSERT_TRUE(b.connected);
  DeviceSlot& slot = SlotTable[b.index];
  const DeviceSlot saved = slot;
  slot.comHandle = nullptr;
  slot.socket = os::kNoSocket;
  uint8_t byte = 1, buffer[kReplySize];
  int count = 0;
  Stopwatch watch;
  EXPECT_FALSE(PurgeChannel(b.index));
  EXPECT_FALSE(WaitForData(b.index));
  EXPECT_FALSE(SendBytes(b.index, &ENQ, 1));
  EXPECT_FALSE(ReadByte(b.index, &byte));
  EXPECT_FALSE(ReadReply(b.index, buffer, &count));
  EXPECT_LT(watch.ms(), 50);
  slot = saved;  // so that Disconnect closes the real channel
}

// ---- TCP only -------------------------------------------------------------

TEST(TcpIo, PurgeWaits200MsWhenNothingIsPendingAnd80MsAfterItsLastRead) {
  Bench silent(false, {"--mode", "silent"});
  ASSERT_TRUE(silent.connected);
  Stopwatch idle;
  EXPECT_TRUE(PurgeChannel(silent.index));
  EXPECT_GE(idle.ms(), 200 - kTickSlack);
  EXPECT_LT(idle.ms(), 200 + kSlack);

  Bench streaming(false, {"--mode", "stream", "--interval", "500"});
  ASSERT_TRUE(streaming.connected);
  os::Sleep(50);  // the first line is pending now; the next comes in 450 ms
  Stopwatch busy;
  EXPECT_TRUE(PurgeChannel(streaming.index));
  EXPECT_GE(busy.ms(), 80 - kTickSlack);
  EXPECT_LT(busy.ms(), 200) << "data was read, so the wait is 80 ms, not 200";
}

TEST(TcpIo, AFailedSendClosesTheConnectionForGood) {
  Bench b(false, {"--mode", "stream", "--disconnect-after", "0"});
  ASSERT_TRUE(b.connected);
  os::Sleep(100);  // the scale has hung up
  const uint8_t request[] = {ENQ};
  bool failed = false;
  for (int i = 0; i < 20 && !failed; ++i) {
    failed = !SendBytes(b.index, request, 1);  // the first may still go out
    os::Sleep(10);
  }
  ASSERT_TRUE(failed);
  EXPECT_EQ(SlotTable[b.index].socket, os::kNoSocket);
  Stopwatch watch;
  EXPECT_FALSE(SendBytes(b.index, request, 1));
  EXPECT_LT(watch.ms(), 50);
}

TEST(SerialIo, SendWaitsOnlyUntilTheBytesHaveLeft) {
  Bench b(true, {"--mode", "silent"});
  ASSERT_TRUE(b.connected);
  Stopwatch watch;
  EXPECT_TRUE(SendBytes(b.index, &ENQ, 1));
  EXPECT_LT(watch.ms(), 256) << "no pause after a serial send";
}

}  // namespace
