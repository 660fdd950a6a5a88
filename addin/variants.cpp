#include "addin/variants.h"

#include <cmath>
#include <cstring>

#include "addin/cp1251.h"

namespace addin {
namespace {

bool FitsInt32(long double x) { return x >= INT32_MIN && x <= INT32_MAX; }

bool WholeNumber(double x, int32_t* value) {
  if (!std::isfinite(x) || std::trunc(x) != x || !FitsInt32(x)) return false;
  *value = static_cast<int32_t>(x);
  return true;
}

bool Signed(int64_t x, int32_t* value) {
  if (!FitsInt32(static_cast<long double>(x))) return false;
  *value = static_cast<int32_t>(x);
  return true;
}

bool Unsigned(uint64_t x, int32_t* value) {
  if (x > static_cast<uint64_t>(INT32_MAX)) return false;
  *value = static_cast<int32_t>(x);
  return true;
}

// Optional blanks, an optional sign, digits, optional blanks; nothing else.
bool DecimalText(const tVariant* v, int32_t* value) {
  char text[24];
  if (!ReadText(v, text, sizeof text)) return false;
  const char* p = text;
  while (*p == ' ') ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p < '0' || *p > '9') return false;
  int64_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > INT64_C(1) << 32) return false;
  }
  while (*p == ' ') ++p;
  return *p == '\0' && Signed(negative ? -n : n, value);
}

}  // namespace

text16* CopyToHost(IMemoryManager* memory, const text16* text, size_t units) {
  if (memory == nullptr) return nullptr;
  void* block = nullptr;
  const unsigned long bytes = static_cast<unsigned long>((units + 1) * sizeof(text16));
  if (!memory->AllocMemory(&block, bytes) || block == nullptr) return nullptr;
  text16* copy = static_cast<text16*>(block);
  std::memcpy(copy, text, units * sizeof(text16));
  copy[units] = 0;
  return copy;
}

void SetBool(tVariant* v, bool value) {
  v->vt = VTYPE_BOOL;
  v->bVal = value;
}

void SetInt(tVariant* v, int32_t value) {
  v->vt = VTYPE_I4;
  v->lVal = value;
}

void SetDouble(tVariant* v, double value) {
  v->vt = VTYPE_R8;
  v->dblVal = value;
}

bool SetText(tVariant* v, IMemoryManager* memory, const std::u16string& text) {
  text16* block = CopyToHost(memory, text);
  if (block == nullptr) return false;
  v->vt = VTYPE_PWSTR;
  v->pwstrVal = block;
  v->wstrLen = static_cast<uint32_t>(text.size());
  return true;
}

bool IsText(const tVariant* v) { return v->vt == VTYPE_PWSTR; }

bool ReadText(const tVariant* v, char* out, size_t outSize) {
  if (!IsText(v)) return false;
  return ToCp1251(v->pwstrVal, v->wstrLen, out, outSize);
}

bool ReadInteger(tVariant* v, int32_t* value) {
  switch (v->vt) {
    case VTYPE_I4: *value = v->lVal; return true;
    case VTYPE_I1: *value = v->i8Val; return true;
    case VTYPE_I2: *value = v->shortVal; return true;
    case VTYPE_INT: *value = v->intVal; return true;
    case VTYPE_ERROR: *value = v->errCode; return true;
    case VTYPE_UI1: *value = v->ui8Val; return true;
    case VTYPE_UI2: *value = v->ushortVal; return true;
    case VTYPE_BOOL: *value = v->bVal ? 1 : 0; return true;
    case VTYPE_UI4: return Unsigned(v->ulVal, value);
    case VTYPE_UINT: return Unsigned(v->uintVal, value);
    case VTYPE_UI8: return Unsigned(v->ullVal, value);
    case VTYPE_I8: return Signed(v->llVal, value);
    case VTYPE_R4: return WholeNumber(static_cast<double>(v->fltVal), value);
    case VTYPE_R8: return WholeNumber(v->dblVal, value);
    case VTYPE_PWSTR: return DecimalText(v, value);
    default: return false;
  }
}

}  // namespace addin
