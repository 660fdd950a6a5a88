#pragma once
// The part of reading a host text that is the same on every system: four
// decimal numbers from 0 to 255. Each OS file adds what its own resolver
// would also read as a number (see os::ReadHostText).

#include <cstdint>

namespace os {

// True, with the address, for four decimal numbers from 0 to 255 joined by
// dots (leading zeros are decimal); false for anything else.
inline bool ReadDecimalAddress(const char* text, uint8_t address[4]) {
  int part = 0;
  for (const char* c = text;; ++c) {
    unsigned value = 0;
    int digits = 0;
    for (; *c >= '0' && *c <= '9'; ++c, ++digits) {
      value = value * 10 + static_cast<unsigned>(*c - '0');
      if (value > 255) return false;
    }
    if (digits == 0 || part == 4) return false;
    address[part++] = static_cast<uint8_t>(value);
    if (*c == '\0') return part == 4;
    if (*c != '.') return false;
  }
}

// Only digits and dots: text a person meant as a number, whatever it reads as.
inline bool DigitsAndDots(const char* text) {
  if (*text == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    if ((*c < '0' || *c > '9') && *c != '.') return false;
  }
  return true;
}

}  // namespace os
