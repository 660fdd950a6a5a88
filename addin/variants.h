#pragma once
// The rules for the host's variants at the boundary: reading arguments,
// writing results, and handing texts to the host in its own memory.

#include <cstddef>
#include <cstdint>
#include <string>

#include "addin/host_api.h"

namespace addin {

// Copies text into a zero-terminated block from the host's memory manager.
// Null when there is no memory manager or it refuses.
text16* CopyToHost(IMemoryManager* memory, const text16* text, size_t units);
inline text16* CopyToHost(IMemoryManager* memory, const std::u16string& text) {
  return CopyToHost(memory, text.c_str(), text.size());
}

void SetBool(tVariant* v, bool value);
void SetInt(tVariant* v, int32_t value);
void SetDouble(tVariant* v, double value);
// The text goes to the host's memory; false, with v untouched, when no block
// could be had.
bool SetText(tVariant* v, IMemoryManager* memory, const std::u16string& text);

bool IsText(const tVariant* v);
// A text argument as Windows-1251 in out (outSize bytes, NUL included).
// False when it is no text or does not fit.
bool ReadText(const tVariant* v, char* out, size_t outSize);
// A whole number within int32: VTYPE_I4 as it is; other integer types,
// Booleans, R4/R8 holding a whole number and texts holding a decimal
// integer as that number. False for anything else.
bool ReadInteger(tVariant* v, int32_t* value);

}  // namespace addin
