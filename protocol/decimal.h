#pragma once
// Weights as decimal text and back, exactly and without the C runtime: the
// process's locale (which the host, or any other add-in in the process, may
// change at any moment from any thread) never takes part. '.' is the decimal
// mark both ways, and the results are those that strtod and printf give in
// the "C" locale.

#include <cstddef>

namespace pesolan {

// Longest text read, and most decimals written.
constexpr int kMaxDecimalText = 24;
constexpr int kMaxFixedDecimals = 17;

// The number that the text starts with: an optional '-', digits, an
// optional '.' and more digits. Reading stops at any other character (a
// second '.' too) or after kMaxDecimalText characters. Correctly rounded;
// 0 when no digit comes first.
double ReadDecimal(const char* text);

// x with `decimals` (0 to kMaxFixedDecimals) digits after the '.', rounded
// to nearest with ties to even, as "%.*f" writes it: a '-' whenever the sign
// of x is negative, "-0.000" included. Returns the length written (the NUL
// follows), or -1, with out left empty, when x is not finite or the text
// with its NUL needs more than size bytes.
int WriteFixed(double x, int decimals, char* out, std::size_t size);

}  // namespace pesolan
