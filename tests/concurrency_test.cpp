// Devices and components used from several threads at once, as the
// platform's server does with the sessions it runs: slots are claimed and
// freed atomically, keys are never shared, and every reading is the weight
// of the device's own scale. Built and run under ThreadSanitizer too.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/addin_fixture.h"
#include "support/devices.h"

using namespace testing_support;

namespace {

constexpr int kThreads = 8;

// Runs body(0..n-1) in n threads that start together, so that their opens
// overlap.
void RunTogether(int n, const std::function<void(int)>& body) {
  std::atomic<int> waiting{n};
  std::vector<std::thread> threads;
  for (int t = 0; t < n; ++t) {
    threads.emplace_back([&, t] {
      --waiting;
      while (waiting.load() > 0) std::this_thread::yield();
      body(t);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

// Each thread's scales weigh differently, so a reading from another
// device's channel shows.
std::string StreamWeight(int t) { return std::to_string(100 + t) + ".5"; }
std::string RequestWeight(int t) { return std::to_string(200 + t) + ".25"; }

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

TEST(Threads, EightComponentsReadTheirOwnStreamingAndRequestScales) {
  constexpr int kRounds = 10, kReadingsPerRound = 20;  // 200 readings a thread
  std::vector<std::unique_ptr<SimProcess>> streams, requests;
  for (int t = 0; t < kThreads; ++t) {
    streams.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--tcp", "--mode", "stream", "--weight", StreamWeight(t)}));
    requests.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--tcp", "--mode", "request", "--weight", RequestWeight(t)}));
  }
  host::Library library(PESOLAN_LIBRARY_PATH);
  std::atomic<int> read{0}, wrong{0}, failed{0};
  RunTogether(kThreads, [&](int t) {
    AddIn addin(library);
    const double expected[] = {std::stod(StreamWeight(t)), std::stod(RequestWeight(t))};
    for (int round = 0; round < kRounds; ++round) {
      addin.UseTcp(streams[t]->port());
      const std::u16string streamId = addin.Open();
      addin.UseTcp(requests[t]->port());
      const std::u16string ids[] = {streamId, addin.Open()};
      for (int i = 0; i < kReadingsPerRound; ++i) {
        double weight = 0;
        if (!addin.Weight(ids[i % 2], &weight)) {
          ++failed;
        } else if (weight != expected[i % 2]) {
          ++wrong;
        }
        ++read;
      }
      addin.Close(ids[0]);
      addin.Close(ids[1]);
    }
  });
  EXPECT_EQ(read.load(), kThreads * kRounds * kReadingsPerRound);
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(wrong.load(), 0) << "a reading came from another device's scale";
  ExpectEverySlotFree(library);
}

TEST(Threads, EightComponentsOpenTheirSerialScalesAtTheSameMoment) {
  REQUIRE_PRIVATE_DEV();
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<std::unique_ptr<PlacedPty>> ports;
  for (int t = 0; t < kThreads; ++t) {
    // Even threads read streaming scales, odd ones scales that answer requests.
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{
        "--pty", "--mode", t % 2 == 0 ? "stream" : "request", "--weight", StreamWeight(t)}));
    ports.push_back(std::make_unique<PlacedPty>(sims.back()->ptyPath(), kPrivateComPort + t));
    ASSERT_TRUE(ports.back()->ok());
  }
  host::Library library(PESOLAN_LIBRARY_PATH);
  std::atomic<int> wrong{0}, failed{0}, openErrors{0};
  RunTogether(kThreads, [&](int t) {
    AddIn addin(library);
    addin.UseSerial(kPrivateComPort + t);
    const std::u16string id = addin.Open();
    if (addin.LastError() != 0) ++openErrors;
    for (int i = 0; i < 3; ++i) {
      double weight = 0;
      if (!addin.Weight(id, &weight)) {
        ++failed;
      } else if (weight != std::stod(StreamWeight(t))) {
        ++wrong;
      }
    }
    addin.Close(id);
  });
  EXPECT_EQ(openErrors.load(), 0) << "a port was held by another thread's probe";
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
