// Devices of one process connecting from several threads at once: slots are
// claimed and freed atomically and keys are never shared. Built and run
// under ThreadSanitizer too.

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <vector>

#include "support/devices.h"
#include "support/threads.h"

using namespace testing_support;

namespace {

TEST(Threads, DevicesConnectingAtOnceNeverShareASlotOrAKey) {
  pesolan::ResetSlotTable();
  SimProcess sim({"--tcp"});
  std::atomic<int32_t> holder[pesolan::kSlotCount] = {};
  std::atomic<int> shared{0}, refused{0};
  std::vector<std::vector<int32_t>> keys(kThreads);
  RunTogether(kThreads, [&](int t) {
    for (int round = 0; round < 40; ++round) {
      pesolan::DeviceHandle a, b;  // two devices held at once
      keys[t].push_back(a.key);
      keys[t].push_back(b.key);
      for (pesolan::DeviceHandle* h : {&a, &b}) {
        if (!pesolan::Connect(*h, TcpSettings(sim.port()))) ++refused;
        const int index = SlotOf(*h);
        if (index < 0 || holder[index].exchange(h->key) != 0) ++shared;
      }
      for (pesolan::DeviceHandle* h : {&a, &b}) {
        const int index = SlotOf(*h);
        if (index >= 0) holder[index].store(0);  // before the slot is freed
        pesolan::Disconnect(*h);
      }
    }
  });
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(shared.load(), 0) << "two devices in one slot";
  std::set<int32_t> distinct;
  for (const auto& own : keys) distinct.insert(own.begin(), own.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * 40 * 2)) << "a key was handed out twice";
  EXPECT_EQ(distinct.count(0), 0u);
  for (const pesolan::DeviceSlot& slot : pesolan::SlotTable) ASSERT_EQ(slot.key, 0);
}

}  // namespace
