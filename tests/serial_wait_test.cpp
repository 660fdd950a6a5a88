// Waiting for a received byte on a Windows serial port whose driver aborts
// reads on line errors, tried on a scripted port: a line error is cleared
// and the wait goes on for the time left.

#include <gtest/gtest.h>

#include <deque>

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
