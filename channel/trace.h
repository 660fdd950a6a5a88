#pragma once
// A trace of what a device does, for the person installing the driver: when
// the environment variable PESOLAN_TRACE names a file, every event of an
// open and of a reading becomes one line of it (date and time, the device's
// channel, milliseconds since the open or the reading began, the event).
//
// The lines of one open or one reading are gathered in memory and written
// when it ends, in one write: the file is opened once per operation, and no
// file is touched while a time limit runs. Without the variable nothing is
// formatted or written, and a file that cannot be written safely is skipped
// (see os::AppendTrace): the trace never changes a result or its timing.

#include <cstdint>

namespace pesolan {

// The trace of one open or one reading of the device in the slot at index:
// on from here if the variable names a file, with times counted from here,
// and written out when the scope ends. A scope within another one of the
// same device joins it.
class TraceScope {
 public:
  explicit TraceScope(int index);
  ~TraceScope();
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  int index_;
};

// Whether the device's current open or reading is traced.
bool Tracing(int index);
// One event, printf-style.
void Trace(int index, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Bytes as one event: what, how many, and their text, printable characters
// as they are, control bytes by name and others in hex ("sent 2 bytes:
// <ENQ><DC1>"). Up to 64 are shown.
void TraceBytes(int index, const char* what, const uint8_t* bytes, int count);
// A byte received, of the arrival numbered arrival (0: not known) that
// came at tick. The bytes of one arrival make one event, "recv 18 bytes:
// ST,GS,  12.345kg<CR><LF>", stamped with when they came, not when they
// were taken; another event in between ends it, and the rest of the
// arrival makes another with the same stamp.
void TraceReceived(int index, uint8_t byte, uint32_t arrival, uint32_t tick);

}  // namespace pesolan
