#pragma once
// The three XML documents the driver hands out: its description, its
// settings page (with the serial ports present) and its (empty) actions.

#include <cstdint>
#include <string>

namespace pesolan {

constexpr size_t kSettingsDocumentUnits = 7168;  // terminator included

const char16_t* DescriptionDocument();
const char16_t* ActionsDocument();
// The settings page with one choice item per port number given (ascending),
// or the single item COM0 when there is none. Ports that would not fit the
// page's 7168 units are left out.
std::u16string SettingsDocument(const int32_t* ports, int count);

}  // namespace pesolan
