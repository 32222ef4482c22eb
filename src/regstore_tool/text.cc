#include "regstore_tool/text.h"

#include "regdefs/shown_text.h"

namespace regstore_tool {

namespace {

const char kLowerDigits[] = "0123456789abcdef";
const char kUpperDigits[] = "0123456789ABCDEF";

// The character at `*i` of UTF-8 text, and `*i` moved past it. A byte that
// does not begin a valid, shortest-form sequence is one character of its own
// number. Surrogates (U+D800 to U+DFFF) are taken as characters only with
// `allow_surrogates`: they are not valid UTF-8, but they are how a lone
// surrogate of UTF-16 data is kept.
std::uint32_t NextCharacter(std::string_view text, std::size_t* i, bool allow_surrogates) {
  const auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(text[at]); };
  const std::uint8_t lead = byte(*i);
  std::size_t length = 0;
  std::uint32_t c = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    ++*i;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  }
  if (length == 0 || *i + length > text.size()) {
    ++*i;
    return lead;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const std::uint8_t next = byte(*i + k);
    if ((next & 0xC0) != 0x80) {
      ++*i;
      return lead;
    }
    c = c << 6 | (next & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (!allow_surrogates && c >= 0xD800 && c <= 0xDFFF)) {
    ++*i;
    return lead;
  }
  *i += length;
  return c;
}

void AppendUtf8(std::uint32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | c >> 18);
    *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendHexByte(unsigned value, std::string* out) {
  *out += kUpperDigits[value >> 4 & 15];
  *out += kUpperDigits[value & 15];
}

}  // namespace

std::string Shown(std::string_view text) {
  return regdefs::ShownText(text, regdefs::kShowUtf8);
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  json.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const std::uint32_t c = NextCharacter(text, &i, false);
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\b':
        json += "\\b";
        break;
      case '\f':
        json += "\\f";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
          json += "\\u00";
          AppendHexByte(c, &json);
        } else if (c >= 0x80 && i == start + 1) {
          // A byte outside valid UTF-8: the character of its number.
          AppendUtf8(c, &json);
        } else {
          json.append(text.data() + start, i - start);
        }
    }
  }
  return json + '"';
}

std::string HexDigits(const std::uint8_t* data, std::size_t size, bool upper) {
  const char* digits = upper ? kUpperDigits : kLowerDigits;
  std::string text(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    text[2 * i] = digits[data[i] >> 4];
    text[2 * i + 1] = digits[data[i] & 15];
  }
  return text;
}

void AppendUtf16Le(std::string_view text, std::string* out) {
  const auto unit = [out](std::uint32_t u) {
    *out += static_cast<char>(u & 0xFF);
    *out += static_cast<char>(u >> 8);
  };
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t c = NextCharacter(text, &i, true);
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800 | c >> 10);
      unit(0xDC00 | (c & 0x3FF));
    } else {
      unit(c);
    }
  }
}

std::string FromUtf16Le(const std::uint8_t* data, std::size_t size) {
  std::string text;
  text.reserve(size / 2);
  std::size_t i = 0;
  for (; i + 1 < size; i += 2) {
    std::uint32_t c = data[i] | data[i + 1] << 8;
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < size) {
      const std::uint32_t low = data[i + 2] | data[i + 3] << 8;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(c, &text);
  }
  if (i < size)
    text += static_cast<char>(data[i]);
  return text;
}

}  // namespace regstore_tool
