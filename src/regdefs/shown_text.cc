#include "regdefs/shown_text.h"

#include <cstddef>
#include <cstdint>

namespace regdefs {

namespace {

const char kDigits[] = "0123456789ABCDEF";

void AppendHex(std::uint8_t byte, std::string* out) {
  *out += kDigits[byte >> 4];
  *out += kDigits[byte & 15];
}

bool IsControl(std::uint8_t byte) {
  return byte < 0x20 || byte == 0x7F;
}

// Whether a C1 control, as UTF-8, begins at `i`.
bool C1At(std::string_view text, std::size_t i) {
  return i + 1 < text.size() && static_cast<std::uint8_t>(text[i]) == 0xC2 &&
         static_cast<std::uint8_t>(text[i + 1]) >= 0x80 &&
         static_cast<std::uint8_t>(text[i + 1]) <= 0x9F;
}

bool Escaped(std::string_view text, std::size_t i, ShowStyle style) {
  const std::uint8_t byte = static_cast<std::uint8_t>(text[i]);
  if (IsControl(byte))
    return !(style & kShowLines) || (byte != '\t' && byte != '\n');
  if (byte == '"' || byte == '\\')
    return (style & kShowQuoted) != 0;
  return (style & kShowUtf8) && C1At(text, i);
}

}  // namespace

void AppendShown(std::string_view text, ShowStyle style, std::string* out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((style & kShowLines) && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      *out += '\n';
      ++i;
    } else if (!Escaped(text, i, style)) {
      *out += c;
    } else if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (c == '\t') {
      *out += "\\t";
    } else if (c == '\n') {
      *out += "\\n";
    } else if (c == '\r' && !(style & kShowLines)) {
      *out += "\\r";
    } else if (IsControl(static_cast<std::uint8_t>(c))) {
      *out += "\\x";
      AppendHex(static_cast<std::uint8_t>(c), out);
    } else {
      // A C1 control: its second byte is its number.
      *out += "\\u00";
      AppendHex(static_cast<std::uint8_t>(text[++i]), out);
    }
  }
}

std::string ShownText(std::string_view text, ShowStyle style) {
  std::string shown;
  shown.reserve(text.size());
  AppendShown(text, style, &shown);
  return shown;
}

bool IsShownEscaped(std::string_view text, ShowStyle style) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Escaped(text, i, style) ||
        ((style & kShowLines) && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      return true;
  }
  return false;
}

}  // namespace regdefs
