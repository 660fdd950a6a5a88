// The five channel operations over loopback TCP and a pseudo-terminal, with
// scale-sim at the other end.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include <unistd.h>

#include "channel/io.h"
#include "channel/slot_table.h"
#include "platform/os.h"
#include "support/devices.h"
#include "support/text.h"

using namespace pesolan;
using namespace testing_support;

namespace {

constexpr uint8_t ENQ = 0x05, ACK = 0x06, DC1 = 0x11;

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
  // Waits (up to 5 s) until the channel holds at least bytes unread.
  bool Holds(uint32_t bytes) const {
    const DeviceSlot& slot = SlotTable[index];
    uint32_t queued = 0;
    for (Stopwatch wait; wait.ms() < 5000; os::Sleep(1)) {
      const bool looked = slot.channelKind == Serial ? os::SerialQueued(slot.comHandle, &queued)
                                                     : os::SocketQueued(slot.socket, &queued);
      if (looked && queued >= bytes) return true;
    }
    return false;
  }
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

// One real-time smoke test per operation, beside the exact limits that the
// virtual-time tests check (channel_timing_test.cpp): the bytes are the
// scale's, in order, and each wait ends.

TEST_P(ChannelIo, ReadByteTakesTheScalesBytesInOrderThenAnswersFalseWithZero) {
  Bench b(serial(), {"--mode", "request", "--reply-bytes", "3"});
  ASSERT_TRUE(b.connected);
  ASSERT_TRUE(SendBytes(b.index, &DC1, 1));
  std::string read;
  uint8_t byte = 0;
  for (int i = 0; i < 3 && ReadByte(b.index, &byte); ++i) read += static_cast<char>(byte);
  EXPECT_EQ(read, "ST,");
  Stopwatch watch;
  EXPECT_FALSE(ReadByte(b.index, &byte));
  EXPECT_EQ(byte, 0);
  EXPECT_GE(watch.ms(), (serial() ? 80 : 128) - kTickSlack);
  EXPECT_LT(watch.ms(), 5000);
}

TEST_P(ChannelIo, ReadReplyGathersUpTo22BytesAndLeavesTheRestQueued) {
  const std::string line = "ST,GS,  12.345kg 0123456789";  // 27 bytes, 29 with CR LF
  Bench b(serial(), {"--mode", "request", "--line", line});
  ASSERT_TRUE(b.connected);
  uint8_t buffer[kReplySize] = {};
  int count = 0;
  ASSERT_TRUE(SendBytes(b.index, &ENQ, 1));
  ASSERT_TRUE(ReadReply(b.index, buffer, &count));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(buffer[0], ACK);
  ASSERT_TRUE(SendBytes(b.index, &DC1, 1));
  ByteOrigin origin;
  ASSERT_TRUE(ReadReply(b.index, buffer, &count, &origin));
  ASSERT_EQ(count, 22);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 22), line.substr(0, 22));
  EXPECT_GT(origin.behind, 0u) << "the rest was there behind it";
  ASSERT_TRUE(ReadReply(b.index, buffer, &count));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(count)), line.substr(22) + "\r\n");

  std::memset(buffer, 0xAB, sizeof buffer);
  count = -7;
  Stopwatch watch;
  EXPECT_FALSE(ReadReply(b.index, buffer, &count)) << "nothing more came";
  EXPECT_GE(watch.ms(), (serial() ? 350 : 300) - kTickSlack);
  EXPECT_LT(watch.ms(), 5000);
  EXPECT_EQ(count, -7);
  EXPECT_EQ(buffer[0], 0xAB);
}

TEST_P(ChannelIo, WaitForDataTellsAStreamingScaleFromASilentOne) {
  Bench streaming(serial(), {"--mode", "stream"});
  ASSERT_TRUE(streaming.connected);
  EXPECT_TRUE(WaitForData(streaming.index));
  Bench silent(serial(), {"--mode", "silent"});
  ASSERT_TRUE(silent.connected);
  EXPECT_FALSE(WaitForData(silent.index));
}

// What the scale sent before the purge is gone; what it sends after is read.
TEST_P(ChannelIo, PurgeThrowsAwayWhatWasPending) {
  Bench b(serial(), {"--mode", "request", "--line", "OLD"});
  ASSERT_TRUE(b.connected);
  ASSERT_TRUE(SendBytes(b.index, &DC1, 1));
  ASSERT_TRUE(b.Holds(5)) << "the answer, OLD CR LF, is pending";
  EXPECT_TRUE(PurgeChannel(b.index));
  uint8_t byte = 0;
  EXPECT_FALSE(ReadByte(b.index, &byte)) << "nothing of it is left";
}

// Every request length reaches the scale as sent (its --received file).
TEST_P(ChannelIo, RequestsOfOneToTwentyTwoBytesReachTheScale) {
  char dir[] = "/tmp/pesolan-io-test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string heard = std::string(dir) + "/heard";
  Bench b(serial(), {"--mode", "silent", "--received", heard});
  ASSERT_TRUE(b.connected);
  uint8_t request[23];
  for (int i = 0; i < 23; ++i) request[i] = static_cast<uint8_t>('a' + i);
  EXPECT_TRUE(SendBytes(b.index, request, 1));
  EXPECT_TRUE(SendBytes(b.index, request, 22));
  EXPECT_FALSE(SendBytes(b.index, request, 0));
  EXPECT_FALSE(SendBytes(b.index, request, 23));
  const std::string expected = "a" + std::string("abcdefghijklmnopqrstuv");
  std::string text;
  for (int i = 0; i < 500 && text.size() < expected.size(); ++i, os::Sleep(10)) {
    std::ifstream file(heard);
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  EXPECT_EQ(text, expected);
  std::remove(heard.c_str());
  rmdir(dir);
}

// ---- TCP only -------------------------------------------------------------

TEST(TcpIo, AFailedSendClosesTheConnectionForGood) {
  Bench b(false, {"--mode", "stream", "--disconnect-after", "0"});
  ASSERT_TRUE(b.connected);
  const uint8_t request[] = {ENQ};
  bool failed = false;
  for (int i = 0; i < 100 && !failed; ++i) {
    failed = !SendBytes(b.index, request, 1);  // the first may still go out
    os::Sleep(10);
  }
  ASSERT_TRUE(failed);
  EXPECT_EQ(SlotTable[b.index].socket, os::kNoSocket);
  EXPECT_FALSE(SendBytes(b.index, request, 1));
  EXPECT_EQ(SlotTable[b.index].socket, os::kNoSocket);
}

}  // namespace
