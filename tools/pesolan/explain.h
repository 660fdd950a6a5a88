#pragma once
// What the library's trace tells about a reading: the unit and stability of
// a weight, and, when a reading or an open fails, its cause and what to do
// next, for the person at the scale.

#include <string>
#include <vector>

namespace host {

// The last weight line the trace shows parsed.
struct ParsedLine {
  bool found = false;
  bool stable = true;
  std::string unit;  // "g", "kg", ...; empty when the scale named none
};

ParsedLine LastParsed(const std::vector<std::string>& trace);

struct Cause {
  std::string why;   // empty when the trace does not tell
  std::string next;  // what to try
};

// What the cause depends on besides the trace.
struct Context {
  bool tcp = false;     // the channel is an address, not a serial port
  bool traced = false;  // the person sees the trace already (--trace)
  std::string held;     // who holds a serial port, when the trace says it is held
  bool hadWeights = false;  // the channel gave weights before (--watch): its address is right
};

// The cause of a failure with driver error code, from the trace lines of
// the failed call, in the words of its channel.
Cause Explain(int code, const std::vector<std::string>& trace, const Context& c);

// Whether the call failed because the channel had closed: the scale hung
// up, or its adapter was pulled out.
bool ChannelClosed(const std::vector<std::string>& trace);

// Whether the failed reading found the scale sending by itself (a stream,
// or bytes nobody asked for) and not faster than it could read: then its
// lines may come too far apart for the driver, which only listening longer
// than a reading can tell.
bool SendsUnasked(int code, const std::vector<std::string>& trace);
// Whether a reading that was answered found bytes before its request that
// nobody had asked for: a slow stream's line may have come as the answer.
bool AnsweredAmidUnasked(const std::vector<std::string>& trace);

// The COM number of a port the trace says is held by another program; 0.
int HeldPort(const std::vector<std::string>& trace);

}  // namespace host
