#pragma once
// Some of the host's calls into the component, one small function each that
// the compiler may not inline: the x86 build's call sites can then be read
// from the program by name (tests/abi-host-x86-check.sh) and compared with
// the DLL's own conventions.

#include "interfaces.h"

__declspec(noinline) bool CallInit(IInitDoneBase* object, void* connection);
__declspec(noinline) bool CallSetMemManager(IInitDoneBase* object, void* memory);
__declspec(noinline) long CallGetInfo(IInitDoneBase* object);
__declspec(noinline) bool CallRegisterExtensionAs(ILanguageExtenderBase* object, text16** name);
__declspec(noinline) bool CallCallAsFunc(ILanguageExtenderBase* object, long method, tVariant* result,
                                         tVariant* params, long count);
__declspec(noinline) void CallSetLocale(LocaleBase* object, const text16* locale);
// delete through the virtual destructor.
__declspec(noinline) void DeleteComponent(IComponentBase* object);
