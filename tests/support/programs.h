#pragma once
// The project's programs run as a person or a script runs them: pesolan
// with the library under test, and scale-sim.

#include <string>

#include "support/sim_process.h"

namespace testing_support {

struct Outcome {
  int status = -1;
  std::string out;
};

// Runs pesolan with args (and environment variables env; its words are
// English unless env sets the language); out is stdout and stderr
// together, or what the redirection given instead makes of them.
Outcome Pesolan(const std::string& args, const std::string& redirect = "2>&1", const std::string& env = "");
Outcome ScaleSim(const std::string& args, const std::string& redirect = "2>&1");
// Runs a shell command line; out is what it prints on stdout.
Outcome Shell(const std::string& command);

// pesolan's JSON without the moment and length of each reading, which
// differ from run to run: ,"elapsed_ms":N,"time":"..." (UTC, ISO 8601 with
// milliseconds) are dropped where they have that form.
std::string Clockless(const std::string& json);
// --watch's text with each line's leading local time ("15:26:03 ") as "T ".
std::string Untimed(const std::string& text);

// "--tcp 127.0.0.1:PORT" for a scale-sim serving TCP.
std::string Tcp(const SimProcess& sim);

}  // namespace testing_support
