#pragma once
// How often a scale that streams sends its lines, heard by pesolan itself
// on the scale's channel while the driver's device is closed: a scale whose
// lines come further apart than a stream reading waits is never read, and
// one reading alone cannot tell that from a scale that stopped.

#include "find_decide.h"
#include "session.h"

namespace host {

// Listens to the channel, sending nothing, for up to 2.6 s or until four
// weight lines came. Nothing heard (or a channel that does not open): no
// lines.
LinePace ListenForPace(const Channel& c);

// The words for a scale too slow for the driver: why, and what to do.
Cause SlowCause(const LinePace& p, bool tcp);

}  // namespace host
