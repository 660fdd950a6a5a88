#include "calls.h"

bool CallInit(IInitDoneBase* object, void* connection) { return object->Init(connection); }

bool CallSetMemManager(IInitDoneBase* object, void* memory) { return object->setMemManager(memory); }

long CallGetInfo(IInitDoneBase* object) { return object->GetInfo(); }

bool CallRegisterExtensionAs(ILanguageExtenderBase* object, text16** name) {
  return object->RegisterExtensionAs(name);
}

bool CallCallAsFunc(ILanguageExtenderBase* object, long method, tVariant* result, tVariant* params, long count) {
  return object->CallAsFunc(method, result, params, count);
}

void CallSetLocale(LocaleBase* object, const text16* locale) { object->SetLocale(locale); }

void DeleteComponent(IComponentBase* object) { delete object; }
