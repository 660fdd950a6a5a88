#pragma once
// pesolan weight: one reading, or --watch's series of them.

#include "session.h"

namespace host {

// Reads the scale as the options say; the status (0: the last reading
// gave a weight).
int Weight(Session& s);

// What a watch has read so far, said as at its end; safe to call from a
// signal handler (Ctrl+C between readings ends a watch at once).
void SayWatchSummaryNow();

// For a signal handler, at Ctrl+C: true when a reading is under way and
// this is the first Ctrl+C. The reading then ends within its own time
// limits (about a second), so that its result and trace are kept, and
// the program ends after it with status 130.
bool EndAfterThisReading();

// The object a JSON run says when Ctrl+C ended it, and the status.
extern const char kInterruptedJson[];
constexpr int kInterruptedStatus = 130;

}  // namespace host
