// The channel's waits in virtual time (the fuzz targets' clock): each ends
// exactly at its limit, with the limit's own comparison, or at the byte that
// ends it, and in one or two blocking waits rather than a polling loop. A
// serial port whose driver never reports its transmitter empty, which this
// machine cannot make, is scripted here.

#include <gtest/gtest.h>

#include <cstring>

#include "channel/io.h"
#include "channel/slot_table.h"
#include "fake_os.h"

using namespace pesolan;
using fuzzing::Arrive;
using fuzzing::g_now;
using fuzzing::Waits;

namespace {

constexpr uint8_t ENQ = 0x05;
constexpr int kIndex = 3;

class VirtualChannel : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    fuzzing::ResetLine();
    ResetSlotTable();
    DeviceSlot& slot = SlotTable[kIndex];
    slot.key = 42;
    slot.ready = true;
    slot.channelKind = serial() ? Serial : Tcp;
    if (serial()) {
      slot.comHandle = fuzzing::ScriptedPort();
    } else {
      slot.socket = fuzzing::ScriptedSocket();
    }
  }
  void TearDown() override { ResetSlotTable(); }
  bool serial() const { return GetParam(); }
  // ReadByte's and ReadReply's first-byte limits end on "more than" on a
  // serial port and on "at least" over TCP.
  uint32_t byteLimit() const { return serial() ? 81 : 128; }
  uint32_t firstReplyLimit() const { return serial() ? 351 : 300; }
};

INSTANTIATE_TEST_SUITE_P(BothChannels, VirtualChannel, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Serial" : "Tcp"; });

TEST_P(VirtualChannel, SilentReadByteEndsExactlyAtItsLimitInOneWait) {
  uint8_t byte = 9;
  EXPECT_FALSE(ReadByte(kIndex, &byte));
  EXPECT_EQ(byte, 0);
  EXPECT_EQ(g_now, byteLimit());
  EXPECT_LE(Waits(), 2) << "the wait blocks; it does not poll";
}

TEST_P(VirtualChannel, ReadByteTakesAByteThatComesOnItsLastMillisecond) {
  Arrive(byteLimit(), "A");
  uint8_t byte = 0;
  EXPECT_TRUE(ReadByte(kIndex, &byte));
  EXPECT_EQ(byte, 'A');
  EXPECT_EQ(g_now, byteLimit());

  fuzzing::ResetLine();
  Arrive(byteLimit() + 1, "B");
  EXPECT_FALSE(ReadByte(kIndex, &byte));
  EXPECT_EQ(g_now, byteLimit());
  EXPECT_EQ(fuzzing::Unread(), 1) << "the late byte stays for the next read";
}

TEST_P(VirtualChannel, ReplyWithoutAFirstByteEndsAtItsLimitAndLeavesTheBufferAlone) {
  uint8_t buffer[kReplySize];
  std::memset(buffer, 0xAB, sizeof buffer);
  int count = -1;
  EXPECT_FALSE(ReadReply(kIndex, buffer, &count));
  EXPECT_EQ(g_now, firstReplyLimit());
  EXPECT_EQ(count, -1);
  EXPECT_EQ(buffer[0], 0xAB);
  EXPECT_LE(Waits(), 2);
}

TEST_P(VirtualChannel, ReplyEnds80MsAfterItsLastByteWithOneWaitPerByte) {
  Arrive(100, "ST,GS,  1.5kg\r\n", 5);  // 15 bytes, the last at 170 ms
  uint8_t buffer[kReplySize] = {};
  int count = 0;
  ASSERT_TRUE(ReadReply(kIndex, buffer, &count));
  EXPECT_EQ(count, 15);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 15), "ST,GS,  1.5kg\r\n");
  EXPECT_EQ(g_now, 170u + 80u);
  EXPECT_LE(Waits(), 2 * 15 + 2);
}

TEST_P(VirtualChannel, TwentySecondByteEndsTheReplyAtOnce) {
  Arrive(10, std::string(30, 'x'));
  uint8_t buffer[kReplySize] = {};
  int count = 0;
  ASSERT_TRUE(ReadReply(kIndex, buffer, &count));
  EXPECT_EQ(count, 22);
  EXPECT_EQ(g_now, 10u) << "no silence is waited for after the 22nd byte";
  EXPECT_EQ(fuzzing::Unread(), 8);
}

TEST_P(VirtualChannel, StreamIsDetectedByAByteOnTheLimitsLastMillisecond) {
  // Serial: the purge discards at once, then 300 ms watching the queue.
  // TCP: the purge drains and waits 200 ms; then only a byte there at once counts.
  const uint32_t limit = serial() ? 300 : 200;
  Arrive(limit, "S");
  EXPECT_TRUE(WaitForData(kIndex));
  EXPECT_EQ(g_now, limit);

  fuzzing::ResetLine();
  Arrive(limit + 1, "S");
  EXPECT_FALSE(WaitForData(kIndex));
  EXPECT_EQ(g_now, limit);
  EXPECT_LE(Waits(), 3);
}

// Slot 0 on a scripted channel of one kind, at virtual time 0.
void ScriptChannel(ChannelKind kind) {
  fuzzing::ResetLine();
  ResetSlotTable();
  SlotTable[0].key = 1;
  SlotTable[0].channelKind = kind;
  if (kind == Serial) SlotTable[0].comHandle = fuzzing::ScriptedPort();
  if (kind == Tcp) SlotTable[0].socket = fuzzing::ScriptedSocket();
}

TEST(VirtualTcp, PurgeWaits80MsAfterItsLastReadAndLeavesLaterBytesQueued) {
  ScriptChannel(Tcp);
  Arrive(0, "old line\r\n");
  Arrive(30, "new");
  EXPECT_TRUE(PurgeChannel(0));
  EXPECT_EQ(g_now, 80u);
  EXPECT_EQ(fuzzing::Unread(), 3) << "bytes that came during the wait are not drained";
  ResetSlotTable();
}

TEST(VirtualTcp, PurgeOfAPeerThatNeverPausesEndsAt200Ms) {
  ScriptChannel(Tcp);
  fuzzing::ReceivesTake(1);
  Arrive(0, std::string(5000, 'x'), 1);  // a byte every millisecond for five seconds
  EXPECT_TRUE(PurgeChannel(0));
  EXPECT_EQ(g_now, 200u);
  EXPECT_GT(fuzzing::Unread(), 4000) << "what is still coming stays queued";
  ResetSlotTable();
}

TEST(VirtualSerial, TransmitterNeverReportedEmptyFailsTheSendAt256Ms) {
  ScriptChannel(Serial);
  fuzzing::ReportTransmitterEmpty(false);
  EXPECT_FALSE(SendBytes(0, &ENQ, 1));
  EXPECT_EQ(g_now, 256u);
  EXPECT_LE(Waits(), 2);
  EXPECT_EQ(fuzzing::Sent(), "\x05");

  fuzzing::ReportTransmitterEmpty(true);
  g_now = 0;
  EXPECT_TRUE(SendBytes(0, &ENQ, 1));
  EXPECT_EQ(g_now, 0u) << "no pause after a serial send";
  ResetSlotTable();
}

}  // namespace
