#pragma once
// pesolan find: where the scale is, and the settings to enter for it.

#include "session.h"

namespace host {

// Listens on every serial port that exists and that no other program holds,
// all at once, with each line setting in turn, sending nothing; with --ask
// asks the silent ones through the driver. With --tcp, tells how each
// address answers instead, and leaves the serial ports alone. Prints what
// it found and the parameters for the platform; 0 when a scale was found,
// 1 when none.
int Find(Session& s);

}  // namespace host
