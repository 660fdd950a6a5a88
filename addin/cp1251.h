#pragma once
// The one conversion pair between the host's UTF-16 texts and the
// component's 8-bit texts, which are Windows-1251 on every platform and
// whatever the C locale (the locale decides only the decimal separator).

#include <cstddef>
#include <string>

#include "addin/host_api.h"

namespace addin {

// Units of text before its first zero unit, at most limit.
size_t TextLength(const text16* text, size_t limit);
// Converts text (to its first zero unit, at most units long) into out with a
// terminating NUL. Characters Windows-1251 lacks become '?'. False, with out
// empty, when the text needs more than outSize - 1 bytes.
bool ToCp1251(const text16* text, size_t units, char* out, size_t outSize);
// The UTF-16 form of a NUL-terminated Windows-1251 text, cut at maxUnits.
std::u16string FromCp1251(const char* text, size_t maxUnits);

}  // namespace addin
