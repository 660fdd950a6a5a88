#pragma once
// The add-in as the platform sees it: the real shared library loaded at run
// time through the command-line host's loading code, one component, a
// memory manager that records every block and a connection.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "addin_host.h"
#include "support/sim_process.h"

namespace testing_support {

using host::Arg;
using host::CallResult;

// A locale name the host may announce whose decimal separator is a comma.
#if defined(_WIN32)
constexpr const char16_t* kHostCommaLocale = u"Russian_Russia.1251";
#else
constexpr const char16_t* kHostCommaLocale = u"ru_RU.UTF-8";
#endif

// Serial ports inside the private /dev that tests/private-dev.sh builds:
// COM65 to COM72 are /dev/ttyUSB0 to 7, on which tests place pseudo-terminals.
constexpr int kPrivateComPort = 65;
constexpr int kPrivateComPorts = 8;
bool InPrivateDev();
// Binds the pseudo-terminal onto the node of a private COM port (COM65 by
// default) for the life of the object.
class PlacedPty {
 public:
  explicit PlacedPty(const std::string& ptyPath, int comPort = kPrivateComPort);
  ~PlacedPty();
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  std::string node_;
};

// Under Wine: the COM port number that the test runner linked to a
// streaming scale-sim's pseudo-terminal (PESOLAN_WINE_COM), or 0.
int WineSerialPort();

#define REQUIRE_PRIVATE_DEV() \
  if (!testing_support::InPrivateDev()) GTEST_SKIP() << "needs root for a private /dev (tests/private-dev.sh)"

class AddIn {
 public:
  explicit AddIn(host::Library& library, const std::u16string& locale = u"C");

  CallResult Call(const std::u16string& method, std::vector<Arg> args = {}) {
    return component.Call(method, std::move(args));
  }
  // SetParameter's result (true only when the call went through and the
  // value was stored).
  bool Set(const std::u16string& name, const Arg& value);
  void UseTcp(int port, int unit = 0);
  void UseSerial(int port, int unit = 0);
  // Open's device identifier, or an empty text when Open returned False.
  std::u16string Open();
  bool Close(const std::u16string& id) { return Call(u"Close", {Arg::Text(id)}).ok(); }
  // GetWeight: true with the weight, or false.
  bool Weight(const std::u16string& id, double* weight);
  // GetLastError's code and text.
  int LastError(std::u16string* message = nullptr);

  host::MemoryManager memory;
  host::Connection connection;
  host::Component component;
};

// All 256 slots of the library are free: 32 components open 8 devices each
// on one scale without an error, and one device more finds no slot.
void ExpectEverySlotFree(host::Library& library);

// One library and one component per test.
class AddInTest : public ::testing::Test {
 protected:
  AddInTest() : library(PESOLAN_LIBRARY_PATH), addin(library) {}
  host::Library library;
  AddIn addin;
};

}  // namespace testing_support

namespace testing_support {

// A component reading TCP devices on scale-sims that live as long as the test.
class ScaleTest : public AddInTest {
 protected:
  // Opens a device on a new scale-sim started with args, in unit.
  std::u16string OpenOn(std::vector<std::string> args, int unit = 0) {
    args.push_back("--tcp");
    sims.push_back(std::make_unique<SimProcess>(args));
    addin.UseTcp(sims.back()->port(), unit);
    return addin.Open();
  }
  std::vector<std::unique_ptr<SimProcess>> sims;
};

}  // namespace testing_support
