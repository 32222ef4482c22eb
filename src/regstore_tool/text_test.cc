#include "regstore_tool/text.h"

#include <gtest/gtest.h>

#include <string>

namespace regstore_tool {
namespace {

TEST(JsonStringTest, EscapesAsJsonRequires) {
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"", "\"\""},
      {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
      {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {std::string("\0\x1b\x7f", 3), "\"\\u0000\\u001B\\u007F\""},
      {"\xc2\x85", "\"\\u0085\""},
      {"caf\xc3\xa9 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""},
      // Bytes outside UTF-8 stand for the characters of their numbers.
      {"\xe9t\xe9", "\"\xc3\xa9t\xc3\xa9\""},
      {"\xc0\xaf", "\"\xc3\x80\xc2\xaf\""},             // overlong "/"
      {"\xed\xa0\x80", "\"\xc3\xad\xc2\xa0\\u0080\""},  // surrogate in UTF-8
  };
  for (const Case& c : cases)
    EXPECT_EQ(JsonString(c.text), c.json) << c.json;
}

TEST(Utf16Test, RoundTripsAndMapsStrayBytes) {
  struct Case {
    std::string text;
    std::string utf16;
  };
  const Case cases[] = {
      {"A", std::string("A\0", 2)},
      {std::string("a\0b\0", 4), std::string("a\0\0\0b\0\0\0", 8)},
      {"\xc3\xa9", std::string("\xe9\0", 2)},
      {"\xe2\x82\xac", std::string("\xac\x20", 2)},
      {"\xf0\x9f\x98\x80", std::string("\x3d\xd8\x00\xde", 4)},
  };
  for (const Case& c : cases) {
    std::string wide;
    AppendUtf16Le(c.text, &wide);
    EXPECT_EQ(wide, c.utf16);
    EXPECT_EQ(FromUtf16Le(reinterpret_cast<const std::uint8_t*>(wide.data()), wide.size()), c.text);
  }
  // A byte outside UTF-8 becomes the character of its number.
  std::string wide;
  AppendUtf16Le("\xe9", &wide);
  EXPECT_EQ(wide, std::string("\xe9\0", 2));
  // A lone surrogate and an odd last byte are kept.
  const std::uint8_t lone[] = {0x00, 0xd8, 0x41};
  EXPECT_EQ(FromUtf16Le(lone, 3), "\xed\xa0\x80\x41");
}

TEST(HexDigitsTest, TwoDigitsEachByte) {
  const std::uint8_t bytes[] = {0x00, 0x0a, 0xff};
  EXPECT_EQ(HexDigits(bytes, 3, true), "000AFF");
  EXPECT_EQ(HexDigits(bytes, 3, false), "000aff");
  EXPECT_EQ(HexDigits(bytes, 0, false), "");
}

}  // namespace
}  // namespace regstore_tool
