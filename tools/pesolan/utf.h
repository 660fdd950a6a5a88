#pragma once
// UTF-16 texts of the platform to and from UTF-8 for the terminal.

#include <string>

namespace host {

std::string Utf8(const std::u16string& text);
std::u16string Utf16(const std::string& text);
// A JSON string literal of text, quotes included.
std::string JsonString(const std::u16string& text);
// UTF-8 text as a terminal may show it: control characters (C0, DEL and
// C1) as \xNN, so that none is obeyed.
std::string Escaped(const std::string& utf8);
// Windows-1251 text (what the platform gave the library) in UTF-8,
// escaped as above.
std::string ShownCp1251(const std::string& text);
// A line of the library's trace for the terminal: UTF-8 when it is that
// (the names of other processes), else Windows-1251; escaped as above.
std::string ShownTraceLine(const std::string& line);

}  // namespace host
