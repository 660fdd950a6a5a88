// A Windows serial port's waits, writes and opens, tried on scripted ports:
// a line error is cleared and the wait goes on for the time left, a read
// that ends early is no time up, a pending error does not lose a request,
// and a port that a probe holds for a moment is opened once it lets go.

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "platform/serial_wait.h"

using os::ReadEnd;

namespace {

// Each read ends as scripted after the scripted milliseconds (a read
// without a script waits out its time); a line error is pending until the
// next clear.
struct ScriptedPort {
  struct Read {
    ReadEnd end;
    uint32_t after;
  };
  uint32_t now = 0;
  std::deque<Read> reads;
  int clears = 0, pauses = 0;
  bool pendingError = false;

  uint32_t Now() const { return now; }
  bool ClearAndCount(uint32_t* queued) {
    ++clears;
    pendingError = false;
    *queued = 0;
    return true;
  }
  ReadEnd ReadOne(uint32_t ms) {
    if (pendingError) return ReadEnd::LineError;  // fails at once until cleared
    if (reads.empty()) {
      now += ms;
      return ReadEnd::TimeUp;
    }
    const Read r = reads.front();
    reads.pop_front();
    now += r.after < ms ? r.after : ms;
    if (r.end == ReadEnd::LineError) pendingError = true;
    return r.after <= ms ? r.end : ReadEnd::TimeUp;
  }
  void Pause(uint32_t ms) {
    ++pauses;
    now += ms;
  }
};

TEST(SerialWait, ALineErrorIsClearedAndTheWaitGoesOnForTheTimeLeft) {
  ScriptedPort port;
  port.reads = {{ReadEnd::LineError, 40}, {ReadEnd::Byte, 100}};
  bool came = false;
  ASSERT_TRUE(os::WaitForQueuedByte(port, 300, &came));
  EXPECT_TRUE(came) << "the byte after the framing error";
  EXPECT_GE(port.now, 140u) << "the wait went on after the error";
  EXPECT_LT(port.now, 300u);
}

TEST(SerialWait, ErrorsUntilTheTimeRunsOutEndItThereWithoutSpinning) {
  ScriptedPort port;
  for (int i = 0; i < 1000; ++i) port.reads.push_back({ReadEnd::LineError, 0});
  bool came = true;
  ASSERT_TRUE(os::WaitForQueuedByte(port, 80, &came));
  EXPECT_FALSE(came);
  EXPECT_EQ(port.now, 80u) << "not a millisecond short of the limit, nor much past it";
  EXPECT_LE(port.pauses, 80) << "at most one pause a millisecond";
}

// A driver that does not keep the zeroed time-outs ends reads at once,
// without a byte: the wait still ends by the clock, and without spinning.
TEST(SerialWait, AReadEndingEarlyWithoutAByteIsNoTimeUp) {
  ScriptedPort early;
  for (int i = 0; i < 40; ++i) early.reads.push_back({ReadEnd::TimeUp, 0});
  early.reads.push_back({ReadEnd::Byte, 5});
  bool came = false;
  ASSERT_TRUE(os::WaitForQueuedByte(early, 300, &came));
  EXPECT_TRUE(came) << "the byte that came after the early ends";

  ScriptedPort never;
  for (int i = 0; i < 1000; ++i) never.reads.push_back({ReadEnd::TimeUp, 0});
  ASSERT_TRUE(os::WaitForQueuedByte(never, 80, &came));
  EXPECT_FALSE(came);
  EXPECT_EQ(never.now, 80u) << "the whole 80 ms, not the first early end";
  EXPECT_LE(never.pauses, 80) << "at most one pause a millisecond";
}

// A port that aborts on line errors fails writes while one is pending.
TEST(SerialWait, AWriteClearsAPendingLineErrorFirst) {
  struct Writer : ScriptedPort {
    std::string sent;
    bool Write(const uint8_t* bytes, uint32_t count) {
      if (pendingError) return false;
      sent.append(reinterpret_cast<const char*>(bytes), count);
      return true;
    }
  } port;
  port.pendingError = true;
  const uint8_t enq = 0x05;
  EXPECT_TRUE(os::WriteClearingErrors(port, &enq, 1));
  EXPECT_EQ(port.sent, "\x05");
}

// Opening a port that a probe of this process holds for a moment.
TEST(SerialWait, AnOpenTakesItsTurnAfterAProbeButNotAfterAHolder) {
  struct Opener {
    uint32_t now = 0;
    int heldFor = 0;  // opens that find the port held
    int opens = 0;
    uint32_t Now() const { return now; }
    os::OpenEnd Open() { return ++opens <= heldFor ? os::OpenEnd::Held : os::OpenEnd::Opened; }
    void Pause(uint32_t ms) { now += ms; }
  };
  Opener probed{0, 3};
  EXPECT_EQ(os::OpenTakingTurns(probed, 200), os::OpenEnd::Opened);
  EXPECT_EQ(probed.opens, 4);
  Opener held{0, 1000};
  EXPECT_EQ(os::OpenTakingTurns(held, 200), os::OpenEnd::Held) << "another program's, after 200 ms";
  EXPECT_GE(held.now, 200u);
  EXPECT_LT(held.now, 220u);
}

TEST(SerialWait, TimeUpFailureAndAByteQueuedAlready) {
  ScriptedPort silent;
  bool came = true;
  ASSERT_TRUE(os::WaitForQueuedByte(silent, 350, &came));
  EXPECT_FALSE(came);
  EXPECT_EQ(silent.now, 350u);

  ScriptedPort broken;
  broken.reads = {{ReadEnd::Failed, 5}};
  EXPECT_FALSE(os::WaitForQueuedByte(broken, 350, &came)) << "a port that fails is not waited on";

  struct Queued : ScriptedPort {
    bool ClearAndCount(uint32_t* queued) {
      *queued = 3;
      return true;
    }
  } queued;
  ASSERT_TRUE(os::WaitForQueuedByte(queued, 350, &came));
  EXPECT_TRUE(came);
  EXPECT_EQ(queued.now, 0u) << "no read when bytes are queued";

  ScriptedPort zero;
  zero.reads = {{ReadEnd::Byte, 0}};
  ASSERT_TRUE(os::WaitForQueuedByte(zero, 0, &came));
  EXPECT_FALSE(came) << "a wait of 0 ms only looks";
  EXPECT_EQ(zero.reads.size(), 1u) << "and starts no read";
}

}  // namespace
