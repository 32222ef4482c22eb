#include "regstore/names.h"

#include <algorithm>

namespace regstore {

namespace {

// Bytes 0x80 to 0x9F of code page 1252 in UTF-16. The five bytes that the
// code page leaves undefined stand for the control characters of the same
// number, as in Wine's table.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t DecodeCp1252(unsigned char c) {
  return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char16_t>(c);
}

// Unicode's simple upper case of the characters code page 1252 holds.
constexpr char16_t Upcase(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7))
    return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0x00B5:  // µ: Greek capital mu
      return 0x039C;
    case 0x00FF:  // ÿ
      return 0x0178;
    case 0x0153:  // œ
    case 0x0161:  // š
    case 0x017E:  // ž
      return static_cast<char16_t>(c - 1);
    case 0x0192:  // ƒ
      return 0x0191;
    default:
      return c;
  }
}

struct FoldTable {
  char16_t units[256];
  constexpr FoldTable() : units() {
    for (int c = 0; c < 256; ++c)
      units[c] = Upcase(DecodeCp1252(static_cast<unsigned char>(c)));
  }
};

constexpr FoldTable kFold;

}  // namespace

char16_t FoldNameChar(unsigned char c) {
  return kFold.units[c];
}

void FoldNameInto(std::string_view name, std::string* folded) {
  folded->clear();
  for (char c : name) {
    const char16_t unit = FoldNameChar(static_cast<unsigned char>(c));
    // Every unit the code page decodes to lies in the Basic Multilingual
    // Plane and outside the surrogates: one to three bytes of UTF-8.
    if (unit < 0x80) {
      folded->push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
      folded->push_back(static_cast<char>(0xC0 | (unit >> 6)));
      folded->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
      folded->push_back(static_cast<char>(0xE0 | (unit >> 12)));
      folded->push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
      folded->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
  }
}

std::string FoldName(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  FoldNameInto(name, &folded);
  return folded;
}

int CompareNames(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = FoldNameChar(static_cast<unsigned char>(a[i]));
    const char16_t y = FoldNameChar(static_cast<unsigned char>(b[i]));
    if (x != y)
      return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace regstore
