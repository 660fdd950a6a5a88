// GetWeight through the loaded library: every unit in both modes, the error
// codes a reading sets and clears, and serial scales on a pseudo-terminal
// placed in the private /dev.

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "support/addin_fixture.h"
#if !defined(_WIN32)
#include "support/open_counter.h"
#endif
#include "support/sim_process.h"
#include "support/text.h"
#include "support/messages.h"

using namespace testing_support;

namespace {

class Weight : public ScaleTest {
 protected:
  double Read(const std::u16string& id) {
    double weight = -1;
    EXPECT_TRUE(addin.Weight(id, &weight));
    return weight;
  }
};

class WeightInBothModes : public Weight, public ::testing::WithParamInterface<const char*> {};

INSTANTIATE_TEST_SUITE_P(Modes, WeightInBothModes, ::testing::Values("stream", "request"));

TEST_P(WeightInBothModes, EveryUnitIsConvertedAndCut) {
  const std::vector<std::string> scale = {"--mode", GetParam(), "--weight", "12.345", "--unit", "kg"};
  const double expected[] = {12.345, 12345000.0, 12345.0, 12.345, 0.012};
  for (int unit = 0; unit <= 4; ++unit) {
    const std::u16string id = OpenOn(scale, unit);
    ASSERT_FALSE(id.empty());
    EXPECT_DOUBLE_EQ(Read(id), expected[unit]) << "unit " << unit;
  }
  EXPECT_EQ(addin.LastError(), 0);
}

// The scale's digits survive any conversion: a single-precision value would
// bring its own error in (999.999 kg as 999999023 mg).
TEST_F(Weight, EveryDigitOfTheScaleSurvivesTheConversion) {
  EXPECT_EQ(Read(OpenOn({"--mode", "request", "--weight", "999.999", "--unit", "kg"}, 1)), 999999000.0);
  EXPECT_EQ(Read(OpenOn({"--mode", "request", "--weight", "12.345", "--unit", "t"}, 1)), 12345000000.0);
  EXPECT_EQ(Read(OpenOn({"--mode", "request", "--weight", "9889.2", "--unit", "t"}, 2)), 9889200000.0);
}

TEST_F(Weight, WholeGramsAskedInKilogramsKeepTheirFraction) {
  EXPECT_DOUBLE_EQ(Read(OpenOn({"--weight", "1500", "--unit", "g"}, 3)), 1.5);
}

TEST_F(Weight, NegativeWeightsComeBackNegative) {
  EXPECT_DOUBLE_EQ(Read(OpenOn({"--weight", "-0.250", "--unit", "kg"}, 2)), -250.0);
}

TEST_F(Weight, SilentScaleGivesCode106UntilAReadingSucceeds) {
  // Request replies in turn: two empty lines fail both ways of one reading,
  // then weight lines follow.
  const std::u16string id = OpenOn({"--mode", "request", "--line", "", "--line", "", "--line", "ST,GS,  12.345kg"});
  double weight = 99;
  const CallResult failed = addin.Call(u"GetWeight", {Arg::Text(id), Arg::Double(99)});
  EXPECT_TRUE(failed.status);
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.args[1].dblVal, 99) << "the weight argument is untouched on failure";
  std::u16string message;
  EXPECT_EQ(addin.LastError(&message), 106);
  EXPECT_EQ(message, Message16(106));
  EXPECT_EQ(addin.LastError(), 106) << "GetLastError does not clear";
  ASSERT_TRUE(addin.Weight(id, &weight));
  EXPECT_EQ(addin.LastError(&message), 0);
  EXPECT_EQ(message, u"") << "no text is handed over for code 0";
}

TEST_F(Weight, UnstableWeightIsRefusedWithCode110UntilAStableOne) {
  const std::u16string id = OpenOn({"--mode", "request", "--unstable", "1"});
  double weight;
  EXPECT_FALSE(addin.Weight(id, &weight));
  std::u16string message;
  EXPECT_EQ(addin.LastError(&message), 110);
  EXPECT_EQ(message, Message16(110));
  EXPECT_TRUE(addin.Weight(id, &weight));
  EXPECT_EQ(addin.LastError(), 0);
}

TEST_F(Weight, AllowingUnstableWeightsAppliesAtOnceToOpenDevices) {
  const std::u16string id = OpenOn({"--mode", "request", "--unstable", "2"});
  double weight;
  EXPECT_FALSE(addin.Weight(id, &weight));
  ASSERT_TRUE(addin.Set(u"Prm_NoStable", Arg::Int(1)));
  EXPECT_TRUE(addin.Weight(id, &weight)) << "the unstable second line is accepted now";
  EXPECT_DOUBLE_EQ(weight, 12.345);
  EXPECT_EQ(addin.LastError(), 110) << "a code 10 from before stays while unstable weights are allowed";
}

// The host sets the process's locale for each component it makes; a device
// opened under one locale is read after a neighbour brought in another.
TEST_F(Weight, ANeighboursLocaleNeverChangesAWeight) {
  SimProcess stream({"--tcp"}), request({"--tcp", "--mode", "request", "--weight", "0.5", "--unit", "g"});
  for (const std::u16string& opened : {std::u16string(u"C"), std::u16string(kHostCommaLocale)}) {
    const std::u16string other = opened == u"C" ? kHostCommaLocale : u"C";
    AddIn reader(library, opened);
    reader.UseTcp(stream.port(), 3);
    const std::u16string streamId = reader.Open();
    reader.UseTcp(request.port(), 1);
    const std::u16string requestId = reader.Open();
    double weight = 0;
    ASSERT_TRUE(reader.Weight(streamId, &weight));
    EXPECT_EQ(weight, 12.345);
    { AddIn neighbour(library, other); }
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(reader.Weight(streamId, &weight));
      EXPECT_EQ(weight, 12.345) << "opened under " << (opened == u"C" ? "C" : "a comma locale");
      ASSERT_TRUE(reader.Weight(requestId, &weight));
      EXPECT_EQ(weight, 500.0);
    }
  }
  AddIn restore(library, u"C");
}

TEST_F(Weight, WeightTooLargeForItsTextIsUnknownDataThenClears) {
  const std::u16string id =
      OpenOn({"--mode", "request", "--line", "S 999999999999999t", "--line", "ST,GS,  12.345kg"}, 1);
  double weight;
  EXPECT_FALSE(addin.Weight(id, &weight)) << "10^24 mg does not fit 23 characters";
  std::u16string message;
  EXPECT_EQ(addin.LastError(&message), 108);
  EXPECT_EQ(message, Message16(108));
  ASSERT_TRUE(addin.Weight(id, &weight));
  EXPECT_DOUBLE_EQ(weight, 12345000.0);
  EXPECT_EQ(addin.LastError(), 0);
}

TEST_F(Weight, JunkFromAStreamingScaleIsReportedAsNoData) {
  const std::u16string id = OpenOn({"--mode", "junk-long"});
  double weight;
  EXPECT_FALSE(addin.Weight(id, &weight));
  EXPECT_EQ(addin.LastError(), 106) << "the exchange's code 8 gives way to 6";
}

TEST_F(Weight, PendingCalibrateErrorIsWhatAFailedReadingReports) {
  const std::u16string id = OpenOn({"--mode", "request", "--unstable", "1"});
  addin.Call(u"Calibrate", {Arg::Text(id), Arg::Empty()});
  double weight;
  EXPECT_FALSE(addin.Weight(id, &weight)) << "unstable";
  EXPECT_EQ(addin.LastError(), 109);
}

TEST_F(Weight, WeightOfADeviceThatIsNotOpenIsFalse) {
  double weight;
  EXPECT_FALSE(addin.Weight(u"1", &weight));
  EXPECT_FALSE(addin.Weight(u"0", &weight));
  EXPECT_FALSE(addin.Call(u"GetWeight", {Arg::Int(1), Arg::Empty()}).status);
}

TEST_F(Weight, DestroyingAComponentReleasesItsDevicesSlots) {
  SimProcess sim({"--tcp"});
  std::vector<std::unique_ptr<AddIn>> components;
  for (int c = 0; c < 32; ++c) {
    components.push_back(std::make_unique<AddIn>(library));
    components.back()->UseTcp(sim.port());
    for (int d = 0; d < 8; ++d) ASSERT_FALSE(components.back()->Open().empty());
  }
  ASSERT_EQ(components.back()->LastError(), 0);
  AddIn extra(library);
  extra.UseTcp(sim.port());
  const std::u16string id = extra.Open();
  std::u16string message;
  EXPECT_EQ(extra.LastError(&message), 101) << "256 slots are taken across the components";
  EXPECT_EQ(message, Message16(101));
  extra.Close(id);
  components.pop_back();
  EXPECT_FALSE(extra.Open().empty());
  EXPECT_EQ(extra.LastError(), 0) << "the destroyed component's slots are free again";
}

// ---- serial -------------------------------------------------------------------

class SerialWeight : public Weight {
 protected:
  std::u16string OpenSerial(std::vector<std::string> args, int unit = 0) {
    args.push_back("--pty");
    sims.push_back(std::make_unique<SimProcess>(args));
    placed = std::make_unique<PlacedPty>(sims.back()->ptyPath());
    EXPECT_TRUE(placed->ok());
    addin.UseSerial(kPrivateComPort, unit);
    return addin.Open();
  }
  std::unique_ptr<PlacedPty> placed;
};

TEST_F(SerialWeight, StreamAndRequestScalesOnAComPort) {
  REQUIRE_PRIVATE_DEV();
  const std::u16string stream = OpenSerial({"--mode", "stream"}, 2);
  EXPECT_EQ(addin.LastError(), 0);
  EXPECT_DOUBLE_EQ(Read(stream), 12345.0);
  addin.Close(stream);
  placed.reset();
  const std::u16string request = OpenSerial({"--mode", "request", "--weight", "2.5", "--unit", "t"}, 3);
  EXPECT_DOUBLE_EQ(Read(request), 2500.0);
}

TEST_F(SerialWeight, AbsentPortWhileOthersArePresentGivesCode104) {
  REQUIRE_PRIVATE_DEV();
  SimProcess sim({"--pty"});
  PlacedPty port(sim.ptyPath());
  addin.UseSerial(3);
  const std::u16string id = addin.Open();
  EXPECT_EQ(id, u"1");
  std::u16string message;
  EXPECT_EQ(addin.LastError(&message), 104);
  EXPECT_EQ(message, Message16(104));
}

TEST_F(SerialWeight, NoSerialPortAtAllGivesCode103) {
  REQUIRE_PRIVATE_DEV();
  addin.UseSerial(1);
  addin.Open();
  std::u16string message;
  EXPECT_EQ(addin.LastError(&message), 103);
  EXPECT_EQ(message, Message16(103));
}

TEST_F(SerialWeight, DestroyingTheComponentUnlocksItsPort) {
  REQUIRE_PRIVATE_DEV();
  const std::u16string id = OpenSerial({"--mode", "stream"});
  EXPECT_EQ(addin.LastError(), 0);
  {
    AddIn rival(library);
    rival.UseSerial(kPrivateComPort);
    rival.Open();
    EXPECT_EQ(rival.LastError(), 104) << "the port is held by the first component";
  }
  AddIn successor(library);
  {
    AddIn first(library);
    first.UseSerial(kPrivateComPort);
    addin.Close(id);
    first.Open();
    EXPECT_EQ(first.LastError(), 0);
  }  // destroyed without Close
  successor.UseSerial(kPrivateComPort);
  successor.Open();
  EXPECT_EQ(successor.LastError(), 0) << "the destroyed component let go of the port";
}

#if !defined(_WIN32)
// Opening a port changes its modem lines, which resets some devices: the
// probe that finds the ports decides from their nodes, and only the device's
// own port is opened.
TEST_F(SerialWeight, AnOpenOpensOnlyItsOwnPortAndTheSettingsPageNone) {
  REQUIRE_PRIVATE_DEV();
  SimProcess other({"--pty"});
  PlacedPty neighbour(other.ptyPath(), kPrivateComPort + 1);
  std::vector<std::string> nodes;
  for (int n = 0; n < kPrivateComPorts; ++n) nodes.push_back("/dev/ttyUSB" + std::to_string(n));
  sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--pty"}));
  placed = std::make_unique<PlacedPty>(sims.back()->ptyPath());
  OpenCounter opens(nodes);
  ASSERT_TRUE(opens.ok());
  addin.UseSerial(kPrivateComPort);
  const std::u16string id = addin.Open();
  EXPECT_EQ(addin.LastError(), 0);
  std::map<std::string, int> counted = opens.Take();
  EXPECT_EQ(counted["/dev/ttyUSB0"], 1) << "the device's own port, once";
  counted.erase("/dev/ttyUSB0");
  EXPECT_TRUE(counted.empty()) << "no other node is opened: " << counted.begin()->first;
  const CallResult settings = addin.Call(u"GetParameters", {Arg::Empty()});
  ASSERT_TRUE(settings.ok());
  EXPECT_NE(settings.argTexts[0].find(u"<Item Value=\"65\">COM65</Item>"), std::u16string::npos);
  EXPECT_NE(settings.argTexts[0].find(u"<Item Value=\"66\">COM66</Item>"), std::u16string::npos);
  EXPECT_EQ(opens.TakeTotal(), 0) << "the settings page opens no port";
  EXPECT_DOUBLE_EQ(Read(id), 12.345);
}
#endif

// Under Wine, tests/wine-tests.sh links a streaming scale as COM port N and
// one answering requests as N + 1.
TEST_F(Weight, StreamAndRequestScalesOnWineComPorts) {
  const int port = WineSerialPort();
  if (port == 0) GTEST_SKIP() << "only under Wine, with COM ports linked to scale-sims";
  const CallResult settings = addin.Call(u"GetParameters", {Arg::Empty()});
  ASSERT_TRUE(settings.ok());
  auto item = [](int n) {
    const std::u16string digit(1, static_cast<char16_t>(u'0' + n));
    return u"<Item Value=\"" + digit + u"\">COM" + digit + u"</Item>";
  };
  EXPECT_NE(settings.argTexts[0].find(item(port) + u" " + item(port + 1) + u"       </"), std::u16string::npos)
      << "the probe finds exactly those ports: " << ::testing::PrintToString(settings.argTexts[0].substr(380, 120));

  addin.UseSerial(port, 2);
  const std::u16string stream = addin.Open();
  EXPECT_EQ(addin.LastError(), 0);
  EXPECT_DOUBLE_EQ(Read(stream), 12345.0);
  EXPECT_TRUE(addin.Close(stream));

  addin.UseSerial(port + 1, 3);
  const std::u16string request = addin.Open();
  EXPECT_EQ(addin.LastError(), 0);
  EXPECT_DOUBLE_EQ(Read(request), 2500.0) << "ENQ, ACK, DC1 and the line through the COM port";
  EXPECT_DOUBLE_EQ(Read(request), 2500.0);
  EXPECT_TRUE(addin.Close(request));

  addin.UseSerial(port + 2);
  addin.Open();
  EXPECT_EQ(addin.LastError(), 104) << "a port that is not there cannot be opened";
}

}  // namespace
