#pragma once
// pesolan weight: one reading, or --watch's series of them.

#include "session.h"

namespace host {

// Reads the scale as the options say; the status (0: the last reading
// gave a weight).
int Weight(Session& s);

// What a watch has read so far, said as at its end; safe to call from a
// signal handler (Ctrl+C ends a watch at once).
void SayWatchSummaryNow();

}  // namespace host
