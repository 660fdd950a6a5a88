// The channel's waits in virtual time (the fuzz targets' clock): each ends
// exactly at its limit, with the limit's own comparison, or at the byte that
// ends it, and in one or two blocking waits rather than a polling loop. A
// serial port whose driver never reports its transmitter empty, which this
// machine cannot make, is scripted here; so are backlogs that arrive at
// exact moments, and a USB adapter's old bytes after a purge.

#include <gtest/gtest.h>

#include <cstring>

#include "channel/connect.h"
#include "channel/io.h"
#include "channel/slot_table.h"
#include "fake_os.h"
#include "protocol/exchange.h"

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

TEST_P(VirtualChannel, ASlotWithoutAnOpenChannelAnswersFalseWithoutWaiting) {
  SlotTable[kIndex].comHandle = nullptr;
  SlotTable[kIndex].socket = os::kNoSocket;
  uint8_t byte = 1, buffer[kReplySize];
  int count = 0;
  EXPECT_FALSE(PurgeChannel(kIndex));
  EXPECT_FALSE(WaitForData(kIndex));
  EXPECT_FALSE(SendBytes(kIndex, &ENQ, 1));
  EXPECT_FALSE(ReadByte(kIndex, &byte));
  EXPECT_FALSE(ReadReply(kIndex, buffer, &count));
  EXPECT_EQ(g_now, 0u);
  EXPECT_EQ(Waits(), 0);
  // A reading of it tries both ways, and neither waits.
  DeviceHandle device;
  SlotTable[kIndex].key = device.key;
  WeightReading reading;
  EXPECT_FALSE(ExchangeWeight(device, &reading));
  EXPECT_EQ(g_now, 0u);
  SlotTable[kIndex].key = 0;
}

TEST(VirtualDevice, DisconnectWaitsForAReadySlotOnlyItsFirst8Ms) {
  fuzzing::ResetLine();
  ResetSlotTable();
  DeviceHandle device;
  WeightReading reading;
  EXPECT_FALSE(ExchangeWeight(device, &reading));
  EXPECT_TRUE(Disconnect(device));
  EXPECT_EQ(g_now, 0u) << "no slot: at once";
  EXPECT_EQ(Waits(), 0);

  SlotTable[0].key = device.key;
  SlotTable[0].ready = true;
  EXPECT_TRUE(Disconnect(device));
  EXPECT_EQ(g_now, 8u) << "ready: one 8 ms look";
  EXPECT_EQ(SlotTable[0].key, 0);

  g_now = 0;
  SlotTable[0].key = device.key;
  SlotTable[0].ready = false;
  EXPECT_TRUE(Disconnect(device));
  EXPECT_GE(g_now, 640u) << "never ready: the whole wait";
  EXPECT_LT(g_now, 640u + 8u);
  EXPECT_EQ(SlotTable[0].key, 0);
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

TEST(VirtualTcp, PurgeWaits80MsAfterItsLastReadAndKeepsWhatCameMeanwhileForTheReads) {
  ScriptChannel(Tcp);
  Arrive(0, "old line\r\n");
  Arrive(30, "ne");
  Arrive(50, "w");
  EXPECT_TRUE(PurgeChannel(0));
  EXPECT_EQ(g_now, 80u);
  std::string read;
  uint32_t behind[3] = {};
  for (int i = 0; i < 3; ++i) {
    uint8_t byte = 0;
    ByteOrigin origin;
    ASSERT_TRUE(ReadByte(0, &byte, &origin));
    read += static_cast<char>(byte);
    behind[i] = origin.behind;
  }
  EXPECT_EQ(read, "new") << "bytes that came during the wait are read next, none of the old";
  EXPECT_EQ(g_now, 80u);
  EXPECT_EQ(behind[0], 2u) << "what is known to wait behind each";
  EXPECT_EQ(behind[1], 1u);
  EXPECT_EQ(behind[2], 0u);
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

// ---- old bytes: a weight is one the scale sent during the reading ------------

const std::string kOld = "ST,GS,   70062g \r\n";  // 18 bytes each
const std::string kNew = "ST,GS,   11111g \r\n";

std::string Lines(const std::string& line, int count) {
  std::string lines;
  while (count-- > 0) lines += line;
  return lines;
}

// One reading of slot 0 (see ScriptChannel): the weight, or -1.
double ReadScripted() {
  DeviceHandle device;
  SlotTable[0].key = device.key;
  WeightReading reading;
  const double weight = ExchangeWeight(device, &reading) ? reading.value : -1;
  SlotTable[0].key = 0;  // the handle's release finds no slot to close
  ResetSlotTable();
  return weight;
}

// A backlog that arrives in bulk after a pause, during the purge's wait or
// after it (a window update, a retransmission), while the scale shows a new
// weight: never the reading, streamed or taken as a reply, and the new lines
// that follow it are read. (Three lines 50 ms after the drain are no more
// than a converter's pack, which no reader can tell from one.)
TEST(VirtualBacklog, BulkThatComesAfterAPauseIsNeverTheWeight) {
  for (const uint32_t gap : {50u, 100u, 150u}) {
    for (const int lines : {20, 60}) {
      ScriptChannel(Tcp);
      Arrive(0, Lines(kOld, 10));
      Arrive(gap, Lines(kOld, lines));
      for (uint32_t at = 200; at < 1500; at += 100) Arrive(at, kNew);
      const double weight = ReadScripted();
      EXPECT_NE(weight, 70062) << "backlog of " << lines << " lines " << gap << " ms after the drain";
      if (gap < 80) {
        EXPECT_EQ(weight, 11111) << "the new lines that follow are read";
        EXPECT_LT(g_now, 300u) << "from the first of them, once the reader has caught up";
      }
    }
  }
}

// The end of a backlog is as old as the rest, however the way cuts it up:
// a flood that goes on after the drain caught up, arriving in pieces, its
// last piece no bigger than a converter's pack, then silence.
TEST(VirtualBacklog, TheEndOfABacklogIsNeverTheNewestLine) {
  for (const uint32_t last : {18u * 2, 18u * 10}) {
    ScriptChannel(Tcp);
    Arrive(0, Lines(kOld, 10));
    for (uint32_t at = 5; at < 25; at += 5) Arrive(at, Lines(kOld, 30));
    Arrive(27, Lines(kOld, static_cast<int>(last / 18)));
    EXPECT_EQ(ReadScripted(), -1) << "a last piece of " << last << " bytes";
  }
  // Or its sender paused for a moment when the drain had caught up, and
  // then sent its last lines: no more than a pack, and no new line after.
  ScriptChannel(Tcp);
  Arrive(0, Lines(kOld, 20));
  Arrive(5, Lines(kOld, 2));
  EXPECT_EQ(ReadScripted(), -1) << "a backlog's tail 5 ms after the drain";
  // Or dribbled after it two lines at a time, each piece within a pack's
  // allowance: once a flow has shown itself, the allowance is spent.
  ScriptChannel(Tcp);
  Arrive(0, Lines(kOld, 10));
  Arrive(5, Lines(kOld, 30));
  for (uint32_t at = 10; at < 400; at += 5) Arrive(at, Lines(kOld, 2));
  EXPECT_EQ(ReadScripted(), -1) << "a backlog dribbled";
}

// The request's reply: bytes that were queued when it went out, or that
// fill its 22 bytes with more behind them, are no answer.
TEST(VirtualBacklog, ARequestIsNeverAnsweredByABacklog) {
  ScriptChannel(Tcp);
  Arrive(250, Lines(kOld, 3));  // after the purge and the look for a stream
  EXPECT_EQ(ReadScripted(), -1);
  EXPECT_EQ(fuzzing::Sent(), "\x05\x05\x11") << "both ways were tried";

  // What is left of an earlier answer when the next request goes out is no
  // answer to it: two lines to ENQ, the first way's reply takes 22 bytes of
  // them, and the rest would read as a weight.
  ScriptChannel(Tcp);
  Arrive(300, Lines(kOld, 2));
  EXPECT_EQ(ReadScripted(), -1);

  // A reply that came beyond the line's pace is none, with no whole line
  // behind it to take instead.
  ScriptChannel(Tcp);
  Arrive(700, kOld + std::string(500, 'x'));
  EXPECT_EQ(ReadScripted(), -1);

  // A converter that packs replies held old ones: with newer lines behind
  // it, the first line is no answer to this request; the newest is. (ENQ DC1
  // goes out before 700 ms on either channel, after the first way's wait.)
  for (const ChannelKind kind : {Tcp, Serial}) {
    for (const int held : {1, 3}) {
      ScriptChannel(kind);
      Arrive(700, Lines(kOld, held) + kNew);
      EXPECT_EQ(ReadScripted(), 11111) << (kind == Tcp ? "TCP" : "serial") << ", " << held << " held";
    }
  }
}

// Slot 0's stream begins at a line's start: the purge drains a whole line.
void ScriptStreamAfterALine() {
  ScriptChannel(Tcp);
  Arrive(0, kNew);
}

// A pack of lines is read at its newest line, not at its first.
TEST(VirtualStream, APackIsReadAtItsNewestLine) {
  ScriptStreamAfterALine();
  Arrive(50, kOld + kOld + kNew);
  EXPECT_EQ(ReadScripted(), 11111);
}

// A backlog that comes while the reader takes a line's bytes, before it has
// seen the line's end, shows the line old too: what waited comes first. So
// does one that comes while a line kept for a newer one waits to be taken.
TEST(VirtualStream, ALineIsJudgedAgainWithWhatCameBehindItMeanwhile) {
  ScriptStreamAfterALine();
  fuzzing::ReceivesTake(1);     // the purge's wait ends at 81 ms
  Arrive(70, "S");              // shows the stream during the purge's wait
  Arrive(90, kOld.substr(1));   // the rest, read a byte a millisecond
  Arrive(100, Lines(kOld, 30));  // a backlog behind it, before its end is read
  EXPECT_EQ(ReadScripted(), -1);

  ScriptStreamAfterALine();
  fuzzing::ReceivesTake(1);
  Arrive(70, "S");
  Arrive(90, kOld.substr(1) + std::string(20, 'x'));  // kept: 20 bytes behind its end at 107 ms
  Arrive(115, Lines(kOld, 30));
  EXPECT_EQ(ReadScripted(), -1);
}

// A USB adapter keeps its own buffer: after the purge its old bytes come
// far faster than 9600 baud carries them, at once or a USB packet at a time
// with pauses between (what the test machine's adapter does), and its last
// packet is never the newest line; the scale's new lines follow at the
// line's pace, or nothing does.
TEST(VirtualBacklog, AnAdaptersOldBytesAfterThePurgeAreNeverTheWeight) {
  for (const uint32_t pause : {0u, 6u, 12u, 20u}) {
    for (const bool silent : {true, false}) {
      ScriptChannel(Serial);
      const std::string buffer = Lines(kOld, 28);  // 504 bytes
      for (size_t at = 0; at < buffer.size(); at += 62) Arrive(3 + pause * static_cast<uint32_t>(at / 62), buffer.substr(at, 62));
      if (!silent) Arrive(200, Lines(kNew, 3), 1);  // a byte a millisecond
      EXPECT_EQ(ReadScripted(), silent ? -1 : 11111) << "packets " << pause << " ms apart";
    }
  }
}

// A scale whose lines come one by one is read as fast as before: the lines
// that came during the purge's wait count.
TEST(VirtualBacklog, LinesThatCameOneByOneDuringThePurgesWaitAreRead) {
  ScriptChannel(Tcp);
  for (uint32_t at = 0; at < 400; at += 19) Arrive(at, kNew);
  EXPECT_EQ(ReadScripted(), 11111);
  EXPECT_EQ(g_now, 80u) << "the purge's wait, then a line already taken in";

  // Read again at once: what the last reading took in and left is what the
  // socket would hold, bytes that came, and the wait after them is 80 ms.
  ScriptChannel(Tcp);
  for (uint32_t at = 0; at < 1000; at += 19) Arrive(at, kNew);
  DeviceHandle device;
  SlotTable[0].key = device.key;
  WeightReading reading;
  ASSERT_TRUE(ExchangeWeight(device, &reading));
  const uint32_t second = g_now;
  EXPECT_TRUE(ExchangeWeight(device, &reading));
  EXPECT_EQ(reading.value, 11111);
  EXPECT_EQ(g_now - second, 80u) << "not the 200 ms of a purge that found nothing";
  SlotTable[0].key = 0;
  ResetSlotTable();
}

// ---- live scales: every delivery of the current weight is read -------------

// A live scale showing kNew: a line every `every` ms, each byte charMs after
// the one before it (0: the line at once), for ten seconds. Each byte is
// handed over at delivered(made, n), n counting every byte the scale sent.
template <typename Delivery>
void LiveScale(uint32_t every, uint32_t charMs, Delivery delivered) {
  uint32_t n = 0;
  for (uint32_t line = 0; line * every < 10000; ++line) {
    for (size_t i = 0; i < kNew.size(); ++i, ++n) {
      Arrive(delivered(line * every + static_cast<uint32_t>(i) * charMs, n), kNew.substr(i, 1));
    }
  }
}

// Twelve readings of slot 0 at most 300 ms apart, as pesolan --watch
// --interval 300 makes them: how many gave the new weight (and none any
// other).
int TwelveReadings() {
  DeviceHandle device;
  SlotTable[0].key = device.key;
  int fresh = 0;
  for (int i = 0; i < 12; ++i) {
    const uint32_t start = g_now;
    WeightReading reading;
    if (ExchangeWeight(device, &reading)) {
      EXPECT_EQ(reading.value, 11111) << "reading " << i;
      ++fresh;
    }
    if (g_now - start < 300) os::Sleep(300 - (g_now - start));
  }
  SlotTable[0].key = 0;
  ResetSlotTable();
  return fresh;
}

// Converters pack lines, virtual COM ports hand them over in bursts, USB
// adapters by their latency timer: the reader reads every one.
TEST(VirtualLive, EveryDeliveryOfALiveScaleIsReadInEveryReading) {
  const auto alone = [](uint32_t made, uint32_t) { return made; };
  const auto timer = [](uint32_t ms) { return [ms](uint32_t made, uint32_t) { return (made / ms + 1) * ms; }; };
  for (const uint32_t every : {20u, 50u, 100u, 200u}) {
    ScriptChannel(Tcp);
    LiveScale(every, 0, alone);
    EXPECT_EQ(TwelveReadings(), 12) << "TCP, each line alone every " << every << " ms";
  }
  for (const uint32_t lines : {2u, 4u}) {
    ScriptChannel(Tcp);
    LiveScale(20, 0, [lines](uint32_t made, uint32_t) { return (made / 20 / lines + 1) * lines * 20 - 20; });
    EXPECT_EQ(TwelveReadings(), 12) << "TCP, packs of " << lines << " lines";
  }
  for (const uint32_t ms : {50u, 100u, 200u}) {
    ScriptChannel(Tcp);
    LiveScale(20, 0, timer(ms));
    EXPECT_EQ(TwelveReadings(), 12) << "TCP, a converter's " << ms << " ms send timer";
  }
  ScriptChannel(Serial);
  LiveScale(20, 1, alone);
  EXPECT_EQ(TwelveReadings(), 12) << "serial, bytes at the line's pace";
  ScriptChannel(Serial);
  LiveScale(20, 1, timer(100));
  EXPECT_EQ(TwelveReadings(), 12) << "serial, a virtual COM port's 100 ms bursts";
  ScriptChannel(Serial);
  LiveScale(18, 1, timer(16));
  EXPECT_EQ(TwelveReadings(), 12) << "serial, a USB adapter's 16 ms latency, back to back";
}

// A converter that packs by a 2 ms quiet gap never finds one in a scale
// that streams back to back: its packs are as large as its buffer. (Packs
// further apart than the purge's 80 ms wait after the bytes it drains miss
// it in some readings, and a request then meets a line cut anywhere: that
// is the exchange's waits, whatever the rule on old bytes.)
// A busy host: the reader gets no processor for a second and a half, at
// any point of a reading. It then finds the scale's live lines waiting,
// more than a second of them, and reads the newest.
TEST(VirtualLive, AReaderThatGotNoProcessorForAWhileReadsTheLinesThatWaited) {
  for (const ChannelKind kind : {Tcp, Serial}) {
    for (const uint32_t at : {5u, 85u, 120u, 250u}) {
      ScriptChannel(kind);
      LiveScale(20, kind == Serial ? 1 : 0, [](uint32_t made, uint32_t) { return made; });
      fuzzing::StallOnce(at, 1500);
      EXPECT_EQ(TwelveReadings(), 12) << (kind == Tcp ? "TCP" : "serial") << ", stalled at " << at << " ms";
    }
  }
}

TEST(VirtualLive, AConverterThatPacksByAQuietGapIsReadBehindAStreamWithoutGaps) {
  ScriptChannel(Tcp);
  LiveScale(18, 1, [](uint32_t, uint32_t n) { return (n / 64 + 1) * 64; });
  EXPECT_EQ(TwelveReadings(), 12) << "packs of 64 bytes";
}

// A peer that sends faster than it can be read never lets the reader catch
// up: the reading ends, it does not go on while the bytes do. The purge
// drains for its 200 ms; from its first byte on, the stream is behind, and
// a second later the reading ends.
TEST(VirtualBacklog, AFloodEndsTheReadingOnceItIsClearlyNotCaughtUp) {
  ScriptChannel(Tcp);
  fuzzing::ReceivesTake(1);
  for (uint32_t at = 0; at < 3000; ++at) Arrive(at, kOld);
  EXPECT_EQ(ReadScripted(), -1);
  EXPECT_GE(g_now, 200u + 1000u);
  EXPECT_LE(g_now, 200u + 1000u + 2u);
}

}  // namespace
