#pragma once
// The process-wide decimal separator: '.' or ',', whichever the C runtime's
// text-to-number conversion accepts under the locale in force when a channel
// opens. It is the decimal mark of the weight's text in the device test
// report, and nothing else: weights themselves are read and written without
// the locale, which any thread of the process may change at any moment.
// Atomic, because components in different threads open and read at once.

#include <atomic>
#include <mutex>

namespace pesolan {

extern std::atomic<char> DecimalSeparator;

// Within the library, a change of the process's locale and a look at it
// take turns: components in different threads may set it at once.
std::mutex& LocaleTurns();

// Sets DecimalSeparator from the current C locale; keeps it when the
// runtime accepts neither form.
void UpdateDecimalSeparator();

}  // namespace pesolan
