// Names are the same when the registry takes them as one name. The pairs of
// code-page bytes below are those that Wine's registry (code page 1252) took
// as one key name, measured by making a key for every byte in turn
// (diff_runner cases in the differential test): every other byte is a name
// of its own.
#include "regstore/names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace {

const std::set<std::pair<int, int>>& MeasuredPairs() {
  static const std::set<std::pair<int, int>> pairs = [] {
    std::set<std::pair<int, int>> found;
    for (int c = 'a'; c <= 'z'; ++c)
      found.insert({c, c - 0x20});
    for (int c = 0xE0; c <= 0xFE; ++c) {
      if (c != 0xF7)  // ÷ and × are no letters
        found.insert({c, c - 0x20});
    }
    found.insert({0x9A, 0x8A});  // š Š
    found.insert({0x9C, 0x8C});  // œ Œ
    found.insert({0x9E, 0x8E});  // ž Ž
    found.insert({0xFF, 0x9F});  // ÿ Ÿ
    return found;
  }();
  return pairs;
}

TEST(NamesTest, BytesAreOneLetterExactlyAsInTheRegistry) {
  for (int a = 1; a < 256; ++a) {
    for (int b = a + 1; b < 256; ++b) {
      const bool same = MeasuredPairs().count({a, b}) || MeasuredPairs().count({b, a});
      const std::string x(1, static_cast<char>(a));
      const std::string y(1, static_cast<char>(b));
      EXPECT_EQ(regstore::SameName(x, y), same) << std::hex << a << " " << b;
      EXPECT_EQ(regstore::FoldName(x) == regstore::FoldName(y), same) << std::hex << a << " " << b;
    }
  }
}

TEST(NamesTest, WholeNames) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } const kCases[] = {
      {"Value", "VALUE", true},
      {"Value", "Value ", false},
      {"", "", true},
      {"Caf\xE9", "CAF\xC9", true},  // Café, CAFÉ
      {"\xC6sop", "\xE6SOP", true},  // Æsop, æSOP
      {"Stra\xDF"
       "e",
       "STRASSE", false},        // ß has no upper case of its own
      {"\xB5s", "\xB5S", true},  // µs, µS
      {"\xB5", "M", false},      // µ is Greek capital mu in upper case
      {"[", "{", false},
      {"a\\b", "A\\B", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(regstore::SameName(c.a, c.b), c.same);
    EXPECT_EQ(regstore::FoldName(c.a) == regstore::FoldName(c.b), c.same);
    EXPECT_EQ(regstore::CompareNames(c.a, c.b) == 0, c.same);
  }
}

TEST(NamesTest, OrderIsThatOfTheFoldedNames) {
  EXPECT_LT(regstore::CompareNames("a", "B"), 0);
  EXPECT_GT(regstore::CompareNames("b", "A"), 0);
  EXPECT_LT(regstore::CompareNames("ab", "ABC"), 0);
  EXPECT_LT(regstore::CompareNames("Z", "\xE9"), 0);
  EXPECT_EQ(regstore::CompareNames("\xFF", "\x9F"), 0);
}

// The store orders subkeys by the bytes of their folded forms: that order
// must be the order of CompareNames, for every pair of bytes and for names
// of which one begins the other. The folded form is UTF-8 that SQLite keeps
// as text.
TEST(NamesTest, FoldedBytesOrderAsCompareNames) {
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      const std::string x{static_cast<char>(a), 'x'};
      const std::string y(1, static_cast<char>(b));
      EXPECT_EQ(sign(regstore::FoldName(x).compare(regstore::FoldName(y))),
                sign(regstore::CompareNames(x, y)))
          << std::hex << a << " " << b;
    }
  }
  EXPECT_EQ(regstore::FoldName("Caf\xE9\x9Ax"), "CAF\xC3\x89\xC5\xA0X");
  EXPECT_EQ(regstore::FoldName("\xFF\x80\x81"), "\xC5\xB8\xE2\x82\xAC\xC2\x81");
}

}  // namespace
