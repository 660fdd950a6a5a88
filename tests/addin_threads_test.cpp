// Components of the real library used from several threads at once, as the
// platform's server does with the sessions it runs: every reading is the
// weight of the device's own scale, and every slot is free afterwards.
// Built and run under ThreadSanitizer, and in the Windows tests under Wine.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/addin_fixture.h"
#include "support/threads.h"

using namespace testing_support;

namespace {

// Each thread's scales weigh differently, so a reading from another
// device's channel shows.
std::string StreamWeight(int t) { return std::to_string(100 + t) + ".5"; }
std::string RequestWeight(int t) { return std::to_string(200 + t) + ".25"; }

TEST(Threads, EightComponentsReadTheirOwnStreamingAndRequestScales) {
#if defined(_WIN32)
  constexpr int kRounds = 2, kReadingsPerRound = 10;  // under Wine: a shorter run
#else
  constexpr int kRounds = 10, kReadingsPerRound = 20;  // 200 readings a thread
#endif
  std::vector<std::unique_ptr<SimProcess>> streams, requests;
  for (int t = 0; t < kThreads; ++t) {
    streams.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--tcp", "--mode", "stream", "--weight", StreamWeight(t)}));
    requests.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--tcp", "--mode", "request", "--weight", RequestWeight(t)}));
  }
  host::Library library(PESOLAN_LIBRARY_PATH);
  std::atomic<int> exact{0}, wrong{0}, failed{0};
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
        } else {
          ++exact;
        }
      }
      addin.Close(ids[0]);
      addin.Close(ids[1]);
    }
  });
  EXPECT_EQ(exact.load(), kThreads * kRounds * kReadingsPerRound);
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(wrong.load(), 0) << "a reading came from another device's scale";
  ExpectEverySlotFree(library);
}

// Sessions in other languages come and go beside the readers: the host sets
// the process's locale for each, from its own thread, at any moment.
TEST(Threads, ReadingsStayExactWhileAnotherComponentSwitchesTheLocale) {
#if defined(_WIN32)
  constexpr int kReadings = 4;
#else
  constexpr int kReadings = 15;  // 60 readings in all
#endif
  constexpr int kReaders = 4;
  SimProcess stream({"--tcp"}), request({"--tcp", "--mode", "request"});
  host::Library library(PESOLAN_LIBRARY_PATH);
  std::atomic<bool> reading{true};
  std::atomic<int> exact{0}, wrong{0}, failed{0}, switches{0};
  std::thread switcher([&] {
    AddIn session(library);
    for (bool comma = true; reading.load(); comma = !comma) {
      session.component.locale()->SetLocale(comma ? kHostCommaLocale : u"C");
      ++switches;
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  RunTogether(kReaders, [&](int t) {
    AddIn addin(library, t % 2 == 0 ? u"C" : kHostCommaLocale);
    addin.UseTcp(t < kReaders / 2 ? stream.port() : request.port(), 3);
    const std::u16string id = addin.Open();
    for (int i = 0; i < kReadings; ++i) {
      double weight = 0;
      if (!addin.Weight(id, &weight)) {
        ++failed;
      } else if (weight != 12.345) {
        ++wrong;
      } else {
        ++exact;
      }
    }
    addin.Close(id);
  });
  reading = false;
  switcher.join();
  AddIn restore(library, u"C");
  EXPECT_EQ(exact.load(), kReaders * kReadings);
  EXPECT_GT(switches.load(), kReadings) << "the locale changed all along";
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(wrong.load(), 0) << "a weight read as another number under a neighbour's locale";
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
