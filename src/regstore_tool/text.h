// Text conversions of the regstore command: how names and data from the
// store are shown on a terminal, written as JSON, and turned into the UTF-16
// of version 5 registry files and back.
//
// The store holds 8-bit names and strings, taken to be UTF-8. A byte that is
// not part of valid UTF-8 stands for the character of the same number
// (U+0080 to U+00FF) wherever text has to become Unicode.
#ifndef BREVLIN_REGSTORE_TOOL_TEXT_H_
#define BREVLIN_REGSTORE_TOOL_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace regstore_tool {

// A name or data from the store as a terminal shows it, so that it cannot
// move the cursor, change colours or set the terminal's title: tab, line
// feed and carriage return as \t, \n and \r, every other C0 control and DEL
// as \xHH, and the C1 controls (U+0080 to U+009F) as \u00HH. Everything
// else, backslashes included, is kept as it is.
std::string Shown(std::string_view text);

// The text as a JSON string, quotes included: ", \ and control characters
// escaped as JSON requires, other characters as UTF-8.
std::string JsonString(std::string_view text);

// Hexadecimal digits of the bytes, two a byte.
std::string HexDigits(const std::uint8_t* data, std::size_t size, bool upper);

// Appends the UTF-16LE form of 8-bit text (each NUL kept as a 16-bit NUL).
void AppendUtf16Le(std::string_view text, std::string* out);
// 8-bit (UTF-8) text from UTF-16LE bytes. A lone surrogate is kept in the
// three-byte form of its number; an odd last byte is kept as it is.
std::string FromUtf16Le(const std::uint8_t* data, std::size_t size);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_TEXT_H_
