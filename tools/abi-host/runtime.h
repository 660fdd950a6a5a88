#pragma once
// What the host needs of a runtime, without one: output, memory, texts and
// numbers.

#include "interfaces.h"

namespace rt {

void Print(const char* text);
void PrintInt(long value);
// value with the given decimals, rounded.
void PrintFixed(double value, int decimals);
void* Allocate(unsigned long bytes);
void Free(void* block);
// Whether every heap of the process passes the system's validation: a block
// freed twice or freed at the wrong address fails it.
bool HeapsValid();

unsigned long Length(const text16* text);
bool Equal(const text16* a, const text16* b);
// Whether text contains part.
bool Contains(const text16* text, const text16* part);
// Decimal text of a number into buffer (room for 12 units).
void IntText(long value, text16* buffer);

}  // namespace rt
