#include "addin/methods.h"

#include <string>

#include "addin/cp1251.h"
#include "addin/variants.h"

namespace addin {
namespace {

using pesolan::ParameterKind;
using pesolan::ParameterValue;

constexpr size_t kParameterNameLength = 15;
constexpr size_t kTextValueSize = 24;       // 8-bit text values, NUL included
constexpr size_t kLastErrorUnits = 1023;    // UTF-16, terminator excluded
constexpr size_t kReportUnits = 7167;

// The device number in a text argument; 0 (no device) for a text longer than
// maxLength.
int32_t DeviceNumber(const tVariant* v, size_t maxLength) {
  char text[pesolan::kLongIdLength + 1];
  if (!ReadText(v, text, maxLength + 1)) return 0;
  return pesolan::DeviceNumberOf(text);
}

std::u16string Decimal(int32_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

bool GetInterfaceRevision(CallContext&, tVariant* result, tVariant*) {
  SetInt(result, pesolan::kInterfaceRevision);
  return true;
}

bool GetDescription(CallContext& c, tVariant* result, tVariant* p) {
  c.Hand(&p[0], pesolan::DescriptionDocument(), true);
  SetBool(result, true);
  return true;
}

bool GetLastError(CallContext& c, tVariant* result, tVariant* p) {
  const pesolan::ErrorRecord& error = c.driver.lastError();
  if (error.code != 0) c.Hand(&p[0], FromCp1251(error.text, kLastErrorUnits), false);
  SetInt(result, error.code);
  return true;
}

bool GetParameters(CallContext& c, tVariant* result, tVariant* p) {
  c.Hand(&p[0], c.driver.Parameters(), true);
  SetBool(result, true);
  return true;
}

bool SetParameter(CallContext& c, tVariant* result, tVariant* p) {
  if (!IsText(&p[0])) return false;
  const size_t length = TextLength(p[0].pwstrVal, p[0].wstrLen);
  const int index = length <= kParameterNameLength ? pesolan::FindParameter(p[0].pwstrVal, length) : -1;
  if (index < 0) return false;
  char text[kTextValueSize] = {};
  ParameterValue value{false, 0, text};
  if (pesolan::KindOfParameter(index) == ParameterKind::Text) {
    if (!IsText(&p[1])) return false;
    value.valid = ReadText(&p[1], text, sizeof text);
  } else {
    value.valid = ReadInteger(&p[1], &value.integer);
  }
  SetBool(result, c.driver.SetParameter(index, value));
  return true;
}

bool Open(CallContext& c, tVariant* result, tVariant* p) {
  const int32_t number = c.driver.Open();
  if (number != 0) c.Hand(&p[0], Decimal(number), true);
  SetBool(result, number != 0);
  return true;
}

bool Close(CallContext& c, tVariant* result, tVariant* p) {
  if (!IsText(&p[0])) return false;
  SetBool(result, c.driver.Close(DeviceNumber(&p[0], pesolan::kLongIdLength)));
  return true;
}

bool DeviceTest(CallContext& c, tVariant* result, tVariant* p) {
  char report[pesolan::kReportSize];
  const bool ok = c.driver.DeviceTest(report);
  if (report[0] != '\0') {
    c.Hand(&p[0], FromCp1251(report, kReportUnits), false);
    c.Hand(&p[1], std::u16string(), false);
  }
  SetBool(result, ok);
  return true;
}

bool GetAdditionalActions(CallContext& c, tVariant* result, tVariant* p) {
  c.Hand(&p[0], pesolan::ActionsDocument(), true);
  SetBool(result, true);
  return true;
}

bool DoAdditionalAction(CallContext&, tVariant* result, tVariant*) {
  SetBool(result, false);
  return true;
}

bool Calibrate(CallContext& c, tVariant* result, tVariant* p) {
  if (!IsText(&p[0])) return false;
  SetBool(result, c.driver.Calibrate(DeviceNumber(&p[0], pesolan::kLongIdLength)));
  return true;
}

bool GetWeight(CallContext& c, tVariant* result, tVariant* p) {
  if (!IsText(&p[0])) return false;
  double weight = 0.0;
  const bool ok = c.driver.GetWeight(DeviceNumber(&p[0], pesolan::kShortIdLength), &weight);
  if (ok) SetDouble(&p[1], weight);
  SetBool(result, ok);
  return true;
}

bool SameText(const text16* a, const text16* b) {
  size_t i = 0;
  for (; a[i] != 0 && b[i] != 0; ++i) {
    if (a[i] != b[i]) return false;
  }
  return a[i] == b[i];
}

// English names first, then Russian ones.
template <typename Entry, typename NameOf>
long FindIn(const Entry* table, long count, NameOf nameOf, const text16* name) {
  if (name == nullptr) return -1;
  for (long i = 0; i < count; ++i) {
    if (SameText(nameOf(table[i]).english, name)) return i;
  }
  for (long i = 0; i < count; ++i) {
    if (SameText(nameOf(table[i]).russian, name)) return i;
  }
  return -1;
}

}  // namespace

const Method kMethods[kMethodCount] = {
    {{u"GetInterfaceRevision", u"ПолучитьРевизиюИнтерфейса"}, 0, GetInterfaceRevision},
    {{u"GetDescription", u"ПолучитьОписание"}, 1, GetDescription},
    {{u"GetLastError", u"ПолучитьОшибку"}, 1, GetLastError},
    {{u"GetParameters", u"ПолучитьПараметры"}, 1, GetParameters},
    {{u"SetParameter", u"УстановитьПараметр"}, 2, SetParameter},
    {{u"Open", u"Подключить"}, 1, Open},
    {{u"Close", u"Отключить"}, 1, Close},
    {{u"DeviceTest", u"ТестУстройства"}, 2, DeviceTest},
    {{u"GetAdditionalActions", u"ПолучитьДополнительныеДействия"}, 1, GetAdditionalActions},
    {{u"DoAdditionalAction", u"ВыполнитьДополнительноеДействие"}, 1, DoAdditionalAction},
    {{u"Calibrate", u"УстановитьВесТары"}, 2, Calibrate},
    {{u"GetWeight", u"ПолучитьВес"}, 2, GetWeight},
};

const Name kProperties[kPropertyCount] = {{u"Test", u"Тест"}};

void DeliverReplies(CallContext& context, IMemoryManager* memory, tVariant* result) {
  for (int i = 0; i < context.replyCount; ++i) {
    const Reply& reply = context.replies[i];
    if (!SetText(reply.target, memory, reply.text) && reply.required) SetBool(result, false);
  }
}

long FindMethod(const text16* name) {
  return FindIn(kMethods, kMethodCount, [](const Method& m) -> const Name& { return m.name; }, name);
}

long FindProperty(const text16* name) {
  return FindIn(kProperties, kPropertyCount, [](const Name& n) -> const Name& { return n; }, name);
}

const text16* NameIn(const Name& name, long language) {
  if (language == 0) return name.english;
  if (language == 1) return name.russian;
  return nullptr;
}

}  // namespace addin
