#pragma once
// What pesolan-bench needs from the system: the process's CPU time, a
// monotonic clock, a description of the machine, and (Linux, in the private
// /dev) a pseudo-terminal placed at the serial port's node.

#include <string>

namespace bench {

// Milliseconds of CPU time the process has used, user and system.
double CpuMs();
// Milliseconds of a monotonic clock.
double NowMs();
std::string Machine();
// Binds the pseudo-terminal onto the node of the benchmark's serial port;
// false where that cannot be done (not in the private /dev, or Windows).
bool PlacePty(const std::string& pty);
void RemovePty();

}  // namespace bench
