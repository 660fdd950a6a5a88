#pragma once
// The component's vocabulary: the property and the twelve driver methods
// with their English and Russian names, argument counts and call handlers.

#include "addin/host_api.h"
#include "driver/driver.h"

namespace addin {

// What a method call works with.
struct CallContext {
  pesolan::ScaleDriver& driver;
  IMemoryManager* memory;
};

// False refuses the call (a malformed call); true means the result variant
// has been filled.
using Handler = bool (*)(CallContext& context, tVariant* result, tVariant* params);

struct Name {
  const text16* english;
  const text16* russian;
};

struct Method {
  Name name;
  long params;
  Handler call;
};

constexpr long kMethodCount = 12;
constexpr long kPropertyCount = 1;
extern const Method kMethods[kMethodCount];
extern const Name kProperties[kPropertyCount];

// The number of the entry whose English, else whose Russian, name equals
// name exactly (case and length included); -1 when none does.
long FindMethod(const text16* name);
long FindProperty(const text16* name);
// The name in language 0 (English) or 1 (Russian); null for other languages.
const text16* NameIn(const Name& name, long language);

}  // namespace addin
