#pragma once
// The process-wide decimal separator: '.' or ',', whichever the C runtime's
// text-to-number conversion accepts under the current locale. Opening a
// channel decides it; parsing a weight line reads it. Atomic, because
// components in different threads may do both at once.

#include <atomic>

namespace pesolan {

extern std::atomic<char> DecimalSeparator;

// Sets DecimalSeparator from the current C locale; keeps it when the
// runtime accepts neither form.
void UpdateDecimalSeparator();

}  // namespace pesolan
