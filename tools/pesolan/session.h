#pragma once
// One component of the loaded library, as a command of pesolan uses it:
// its calls, the trace each leaves, and the failure report.

#include <string>
#include <vector>

#include "addin_host.h"
#include "cli_options.h"
#include "explain.h"
#include "host_objects.h"
#include "trace_tap.h"

namespace host {

// The channel of a device, as the driver's parameters give it.
struct Channel {
  bool tcp = false;
  std::string host;
  int port = 0;   // TCP port
  int com = 0;
  int attrs = 0;
};

Channel ChannelOf(const Options& o);

// The weight as the library returned it: the shortest decimal text that
// reads back as the same number, never in exponent form.
std::string Number(double value);
std::string JsonText(const std::string& utf8);

class Session {
 public:
  Session(Library& lib, const Options& o);
  bool ok() { return component_.ok(); }

  // Calls a driver method, noting where its trace begins and ends.
  CallResult Call(const std::u16string& method, std::vector<Arg> args);
  // Sets the channel and the options' reading parameters (unstable weights
  // taken too when anyStability); a message when the driver refused one.
  std::string Configure(const Channel& c, bool anyStability = false);
  // Why the last call failed, as far as its trace tells.
  Cause CauseOf(int code);
  // The lines of the last call's trace.
  std::vector<std::string> LastTrace() { return tap_.LastCall(); }
  // The unit and stability of the weight just read.
  void Describe(std::string* symbol, bool* stable);
  // The driver's last error number and message.
  int LastError(std::u16string* message);
  // The failure of the last call: the driver's number and message, and the
  // cause its trace tells.
  struct Failure {
    int code;
    std::u16string message;
    Cause cause;
  };
  Failure LastFailure();
  // The number and message, then the cause and the next step, on stderr
  // (with --json, its object on stdout); 1. jsonExtra: fields the JSON
  // object carries besides (",\"name\":value").
  int Report(const Failure& f, const std::string& jsonExtra = "");
  int ReportError() { return Report(LastFailure()); }
  // The last call failed because the device's channel had closed (the scale
  // hung up, or was switched off).
  bool ChannelClosed();
  // A weight came: from now on the channel is known to be the scale's.
  void Weighed() { weighed_ = true; }

  const Options& o_;

 private:
  bool tcp_ = false;  // the channel last configured
  bool weighed_ = false;
  TraceTap tap_;
  MemoryManager memory_;
  Connection connection_;
  Component component_;
};

}  // namespace host
