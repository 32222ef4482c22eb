#include "common/globals.h"

#include <string>

const char kApplicationTitle[] = "Register Brevlin";

namespace {

LocaleNumberChars& FixedChars() {
  static LocaleNumberChars chars = plat::ReadLocaleNumberChars();
  return chars;
}

// Parses text in which the locale characters have already been replaced.
IntegerReading ParseInteger(std::string_view text) {
  IntegerReading reading;
  // A NUL ends the text for the parse.
  std::string_view::size_type nul = text.find('\0');
  if (nul != std::string_view::npos)
    text = text.substr(0, nul);

  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  // The magnitude never leaves 32 bits: a digit that would carry it past
  // 0xFFFFFFFF ends the number before it.
  std::uint64_t magnitude = 0;
  const std::size_t first_digit = i;
  for (; i < n; ++i) {
    int digit = HexDigitValue(text[i]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base)
      break;
    std::uint64_t next = magnitude * base + static_cast<unsigned>(digit);
    if (next > 0xFFFFFFFFu) {
      reading.out_of_range = true;
      break;
    }
    magnitude = next;
  }
  reading.has_digits = i > first_digit;
  reading.whole = i == n && nul == std::string_view::npos;
  // The sign applies whether or not the number ran to the end of the text:
  // "-5 " is -5, never 5.
  std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
  if (negative)
    bits = 0u - bits;
  reading.value = static_cast<std::int32_t>(bits);
  return reading;
}

}  // namespace

void FixLocaleNumberChars() {
  FixedChars();
}

const LocaleNumberChars& NumberChars() {
  return FixedChars();
}

std::int32_t LocaleStrToInt(std::string_view text) {
  return LocaleStrToInt(text, NumberChars());
}

std::int32_t LocaleStrToInt(std::string_view text, const LocaleNumberChars& chars) {
  return ReadLocaleInteger(text, chars).value;
}

IntegerReading ReadLocaleInteger(std::string_view text, const LocaleNumberChars& chars) {
  // A locale character that is NUL stands for an empty setting: it matches
  // nothing in the text.
  const char thousand = chars.thousand_separator;
  const char positive = chars.positive_sign;
  const char negative = chars.negative_sign;
  const char decimal = chars.decimal_separator;

  // Short texts (every byte of a binary value) are rewritten on the stack.
  char small[32];
  std::string large;
  char* out = small;
  if (text.size() > sizeof(small)) {
    large.resize(text.size());
    out = &large[0];
  }
  std::size_t length = 0;
  for (char c : text) {
    if (thousand != '\0' && c == thousand)
      continue;
    if (positive != '\0' && c == positive) {
      c = '+';
    } else if (negative != '\0' && c == negative) {
      c = '-';
    } else if (decimal != '\0' && c == decimal) {
      c = '.';
    }
    out[length++] = c;
  }
  return ParseInteger(std::string_view(out, length));
}
