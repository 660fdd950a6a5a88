#pragma once
// UTF-16 texts of the platform to and from UTF-8 for the terminal.

#include <string>

namespace host {

std::string Utf8(const std::u16string& text);
std::u16string Utf16(const std::string& text);
// A JSON string literal of text, quotes included.
std::string JsonString(const std::u16string& text);

}  // namespace host
