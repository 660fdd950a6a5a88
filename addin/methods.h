#pragma once
// The component's vocabulary: the property and the twelve driver methods
// with their English and Russian names, argument counts and call handlers.

#include <string>

#include "addin/host_api.h"
#include "driver/driver.h"

namespace addin {

// A text a method hands back. It goes into the host's memory only after the
// component's lock is let go: the host's allocator may call the component.
struct Reply {
  tVariant* target = nullptr;
  std::u16string text;
  // The method's Boolean result becomes false when the text cannot be had.
  bool required = false;
};

// What a method call works with, and what it hands back.
struct CallContext {
  explicit CallContext(pesolan::ScaleDriver& d) : driver(d) {}
  pesolan::ScaleDriver& driver;
  Reply replies[2];
  int replyCount = 0;

  void Hand(tVariant* target, std::u16string text, bool required) {
    replies[replyCount++] = Reply{target, std::move(text), required};
  }
};

// Puts the replies of a call into the host's memory; a required one that
// cannot be had turns the Boolean result false.
void DeliverReplies(CallContext& context, IMemoryManager* memory, tVariant* result);

// False refuses the call (a malformed call); true means the result variant
// has been filled and the replies are ready to be delivered.
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
