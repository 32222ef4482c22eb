// How names and data from files and from the store are shown to a user: on a
// terminal, in a message, in a listing. A control character in such text
// would reach the terminal as a command to it (move the cursor, change the
// colours, set the title), so every control character is written as an
// escape instead.
#ifndef BREVLIN_REGDEFS_SHOWN_TEXT_H_
#define BREVLIN_REGDEFS_SHOWN_TEXT_H_

#include <string>
#include <string_view>

namespace regdefs {

// How a text is shown; the flags combine.
enum ShowStyle : unsigned {
  // One item on a line: tab, line feed and carriage return are written \t,
  // \n and \r; every other control byte (0x00 to 0x1F, NUL among them) and
  // DEL as \xHH in capitals ("\x1B" for ESC). Every other byte, backslashes
  // and bytes from 0x80 up included, stays: in the Windows code page those
  // are letters.
  kShowItem = 0,
  // A message of several lines: tab and line feed stay, CR LF becomes a line
  // feed; a lone carriage return is a control byte like the others.
  kShowLines = 1,
  // The text is UTF-8, where U+0080 to U+009F are the C1 controls, which a
  // terminal may act on too: they are written \u00HH ("\u009B"). A byte from
  // 0x80 up that is not part of one stays.
  kShowUtf8 = 2,
  // The text goes between double quotes: " and \ are written \" and \\, so
  // that the quotes show where it ends.
  kShowQuoted = 4,
};

constexpr ShowStyle operator|(ShowStyle a, ShowStyle b) {
  return static_cast<ShowStyle>(static_cast<unsigned>(a) | b);
}

// Appends `text` as it is shown.
void AppendShown(std::string_view text, ShowStyle style, std::string* out);

// `text` as it is shown.
std::string ShownText(std::string_view text, ShowStyle style = kShowItem);

// Whether the text is shown otherwise than it is.
bool IsShownEscaped(std::string_view text, ShowStyle style = kShowItem);

}  // namespace regdefs

#endif  // BREVLIN_REGDEFS_SHOWN_TEXT_H_
