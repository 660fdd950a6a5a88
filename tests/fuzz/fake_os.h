#pragma once
// The operating-system layer in virtual time, for the fuzz targets and the
// tests that need exact timing. Time passes only when the code waits or
// sleeps. Nothing opens through it; a test that wants a channel puts
// ScriptedPort() or ScriptedSocket() into a slot itself, and scripts what
// the scale sends with Arrive.

#include <cstdint>
#include <string>

#include "platform/os.h"

namespace fuzzing {

// Milliseconds of virtual time.
extern uint32_t g_now;

// Back to time 0 with nothing scripted, sent or counted.
void ResetLine();
// The scale sends bytes, the first at virtual time at and each next one gap
// milliseconds later.
void Arrive(uint32_t at, const std::string& bytes, uint32_t gap = 0);
// Each socket receive takes this long (0 by default): a peer that floods
// the line keeps a reader busy.
void ReceivesTake(uint32_t ms);
// The reader gets no processor for ms once the clock has reached at: the
// first time it reads the clock from then on, ms more have passed.
void StallOnce(uint32_t at, uint32_t ms);
// Whether the scripted serial port ever reports its transmitter empty.
void ReportTransmitterEmpty(bool reported);
// Blocking waits made (serial event waits, socket readability waits, sleeps).
int Waits();
// Bytes scripted but not yet taken by a read or a purge.
int Unread();
// What the driver sent.
const std::string& Sent();

os::SerialPort ScriptedPort();

// A serial line for code that opens its port itself: while it is plugged,
// OpenSerial gives the scripted port, and the scale on it speaks with the
// settings given. A port configured otherwise receives what a UART makes of
// the bytes: a 7E1 scale read as 8N1 shows its parity bit as the top bit
// of each byte; an 8N1 scale read as 7E1 has its eighth bit taken for
// parity, and a byte whose parity is wrong arrives as NUL.
void PlugSerialLine(const os::LineSettings& scale);
os::Socket ScriptedSocket();

}  // namespace fuzzing
