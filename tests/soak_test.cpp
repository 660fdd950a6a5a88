// A thousand cycles, twice: opening, reading and closing a device through
// the core, and creating, using and destroying a component through the
// loaded library. Heap and open descriptors must not grow, and every slot
// must be free again at the end.

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdio>
#include <memory>
#include <string>

#include "channel/connect.h"
#include "protocol/reading.h"
#include "support/addin_fixture.h"
#include "support/devices.h"
#include "support/sim_process.h"
#include "support/text.h"

using namespace testing_support;

namespace {

constexpr int kCycles = 1000;
constexpr int kWarmUp = 20;
// A pseudo-terminal hands each line over at once, and on a loaded emulated
// machine the reader sees the lines' arrivals with a lag that varies by
// more than the few milliseconds a serial line's pace allows after a
// drained flow: a reading may then find no current line (README, what pace
// cannot tell). These soaks are about resources: a few such readings of a
// thousand are allowed, each shown with its trace; every weight read must
// be exact.
constexpr size_t kRefusalsAllowed = 3;

// The readings that gave no weight: each shown with its trace at once (kept,
// they would count as heap that grew), then counted against the allowance.
struct Refusals {
  size_t count = 0;
  void Add(const std::string& trace) {
    ++count;
    std::printf("a reading gave no weight:\n%s\n", trace.c_str());
  }
  void Judge() const { EXPECT_LE(count, kRefusalsAllowed) << "readings that gave no weight (traces above)"; }
};

size_t HeapInUse() { return mallinfo2().uordblks; }

// Heap figures mean nothing under the sanitizers, whose allocators keep
// memory of their own (AddressSanitizer's LeakSanitizer checks for leaks at
// exit instead).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kHeapMeasurable = false;
#else
constexpr bool kHeapMeasurable = true;
#endif

struct Usage {
  size_t heap;
  int descriptors;
};

Usage Now() { return {HeapInUse(), testing_support::OpenDescriptors()}; }

// Runs cycle a few times to warm up, then kCycles times, and checks that
// neither the heap nor the open descriptors grew.
template <typename Cycle>
void ExpectNoGrowth(Cycle cycle) {
  for (int i = 0; i < kWarmUp; ++i) cycle();
  const Usage before = Now();
  for (int i = 0; i < kCycles; ++i) {
    cycle();
    if (::testing::Test::HasFatalFailure()) return;
  }
  const Usage after = Now();
  EXPECT_EQ(after.descriptors, before.descriptors);
  if (kHeapMeasurable) {
    EXPECT_LT(after.heap, before.heap + 16 * 1024) << "heap grew";
  }
}

TEST(Soak, OpenReadCloseThousandTimesThroughTheCore) {
  SimProcess sim({"--pty", "--interval", "20"});
  MappedPort port(kSimPort, sim.ptyPath());
  pesolan::ErrorRecord lastError;
  const TraceCapture trace;  // each cycle's
  Refusals refusals;
  auto cycle = [&] {
    trace.Clear();
    pesolan::DeviceHandle device;
    ASSERT_TRUE(pesolan::Connect(device, SerialSettings(kSimPort))) << trace.Text();
    double weight = 0;
    if (!pesolan::ReadWeight({device, 0.0f, 2}, false, lastError, &weight, nullptr)) {
      refusals.Add(trace.Text());
      return;
    }
    ASSERT_DOUBLE_EQ(weight, 12345.0);
  };  // the handle's release disconnects
  ExpectNoGrowth(cycle);
  refusals.Judge();
  for (const pesolan::DeviceSlot& slot : pesolan::SlotTable) ASSERT_EQ(slot.key, 0);
}

TEST(Soak, ComponentsCreatedUsedAndDestroyedThousandTimes) {
  REQUIRE_PRIVATE_DEV();
  SimProcess sim({"--pty", "--interval", "20"});
  PlacedPty placed(sim.ptyPath());
  ASSERT_TRUE(placed.ok());
  host::Library library(PESOLAN_LIBRARY_PATH);
  const TraceCapture trace;  // each cycle's
  Refusals refusals;
  auto cycle = [&] {
    trace.Clear();
    AddIn addin(library);
    addin.UseSerial(kPrivateComPort, 2);
    const std::u16string id = addin.Open();
    double weight = 0;
    if (!addin.Weight(id, &weight)) {
      ASSERT_EQ(addin.LastError(), 106) << trace.Text();
      refusals.Add(trace.Text());
      return;
    }
    ASSERT_DOUBLE_EQ(weight, 12345.0);
  };  // destroyed without Close: the component lets go of its device
  ExpectNoGrowth(cycle);
  refusals.Judge();
  if (HasFatalFailure()) return;

  ExpectEverySlotFree(library);
}

}  // namespace
