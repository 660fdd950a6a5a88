#pragma once
// What a soak run found: calls by method and outcome, the weights no line
// of the scale justifies, the slowest call of each method against its
// bound, and how descriptors and memory drifted; as JSON and as Markdown.

#include <map>
#include <string>
#include <vector>

#include "oracle.h"
#include "soak.h"

namespace soak {

struct Findings {
  uint64_t seed = 0;
  int seconds = 0;
  // The system clock less the monotonic one, for the local time of a call
  // (the driver's trace stamps its lines so).
  int64_t wallLessMonotonicNs = 0;
  long events = 0;  // sent to the scales
  std::map<std::string, std::map<std::string, long>> outcomes;  // method -> outcome -> calls
  std::map<std::string, long> slowestMs;
  std::vector<std::string> wrongWeights;   // one line each, with the seed
  std::vector<std::string> liveRefused;    // failed readings of a scale that was live and served
  std::vector<std::string> overBound;      // calls slower than their bound
  long undefinedCodes = 0;
  long unexpectedAnswers = 0;
  bool slotsFree = false;
  long descriptorDrift = 0, residentDriftKb = 0;
  bool memoryChecked = true;

  // Adds the calls, judging each weight against the lines of its scale, and
  // each failed reading against what its scale did then.
  // streams: whether each scale streamed before any command.
  void Judge(const std::vector<Call>& calls, const std::vector<std::vector<Sent>>& sent,
             const std::vector<bool>& streams);
  bool Passed() const;
};

// Allowed drift between the quiet moment after the warm-up and the end.
constexpr long kDescriptorMargin = 2;
constexpr long kResidentMarginKb = 16 * 1024;

std::string Json(const Findings& f);
std::string Markdown(const Findings& f);

}  // namespace soak
