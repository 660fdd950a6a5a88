// The host's runtime: the few things a Microsoft runtime would give, written
// over kernel32 so that nothing else is linked.

#include "runtime.h"

#include "kernel32.h"

// Floating-point code in a Microsoft-ABI object refers to this symbol.
extern "C" int _fltused = 0;

// The compiler may call these for copies and clears of records.
extern "C" void* memset(void* dest, int value, __SIZE_TYPE__ count) {
  unsigned char* d = static_cast<unsigned char*>(dest);
  while (count-- > 0) *d++ = static_cast<unsigned char>(value);
  return dest;
}

extern "C" void* memcpy(void* dest, const void* source, __SIZE_TYPE__ count) {
  unsigned char* d = static_cast<unsigned char*>(dest);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  while (count-- > 0) *d++ = *s++;
  return dest;
}

// The host's own objects live on the stack and are never deleted, but their
// deleting destructors name these.
void operator delete(void* block) noexcept { rt::Free(block); }
void operator delete(void* block, __SIZE_TYPE__) noexcept { rt::Free(block); }

namespace rt {

void Print(const char* text) {
  unsigned long n = 0;
  while (text[n] != '\0') ++n;
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, n, &written, nullptr);
}

void PrintInt(long value) {
  char text[16];
  int i = sizeof text - 1;
  text[i] = '\0';
  const bool negative = value < 0;
  unsigned long magnitude = negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    text[--i] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (negative) text[--i] = '-';
  Print(text + i);
}

void PrintFixed(double value, int decimals) {
  if (value < 0) {
    Print("-");
    value = -value;
  }
  long scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const long scaled = static_cast<long>(value * static_cast<double>(scale) + 0.5);
  PrintInt(scaled / scale);
  if (decimals == 0) return;
  Print(".");
  char digits[12];
  long rest = scaled % scale;
  for (int i = decimals - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  digits[decimals] = '\0';
  Print(digits);
}

void* Allocate(unsigned long bytes) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }
void Free(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

bool HeapsValid() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  if (count == 0 || count > 64) return false;
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapValidate(heaps[i], 0, nullptr)) return false;
  }
  return true;
}

unsigned long Length(const text16* text) {
  unsigned long n = 0;
  while (text[n] != 0) ++n;
  return n;
}

bool Equal(const text16* a, const text16* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

bool Contains(const text16* text, const text16* part) {
  for (; *text != 0; ++text) {
    unsigned long i = 0;
    while (part[i] != 0 && text[i] == part[i]) ++i;
    if (part[i] == 0) return true;
  }
  return *part == 0;
}

void IntText(long value, text16* buffer) {
  text16 digits[12];
  int n = 0;
  unsigned long magnitude = value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<text16>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  int i = 0;
  if (value < 0) buffer[i++] = '-';
  while (n > 0) buffer[i++] = digits[--n];
  buffer[i] = 0;
}

}  // namespace rt
