#pragma once
// A trace of what a device does, for the person installing the driver: when
// the environment variable PESOLAN_TRACE names a file, every event of an
// open and of a reading is appended to it as one line (date and time, the
// device's channel, milliseconds since the open or the reading began, the
// event). Without the variable nothing is formatted or written, and a file
// that cannot be written is ignored: the trace never changes a result.

#include <cstdint>

namespace pesolan {

// An open or a reading of the device in the slot begins: tracing is on for
// it from now on if the variable names a file, and times count from here.
void BeginTrace(int index);
// Whether the device's current open or reading is traced.
bool Tracing(int index);
// One event, printf-style.
void Trace(int index, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// One line per byte: what, the byte in hex and, when it has one, its
// printable character or control name ("recv 06 ACK", "recv 53 'S'").
void TraceBytes(int index, const char* what, const uint8_t* bytes, int count);

}  // namespace pesolan
