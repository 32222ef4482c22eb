// Names are the same when they differ only in the case of ASCII letters, as
// SQLite's COLLATE NOCASE in the store's tables takes them.
#include "regstore/names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(NamesTest, FoldsAsciiLettersOnly) {
  EXPECT_EQ(regstore::FoldName("Software\\MIXED_Case 9"), "software\\mixed_case 9");
  // The bytes around the letters ('@', '[', '`', '{') and bytes above 0x7F
  // stay as they are.
  EXPECT_EQ(regstore::FoldName("@[`{\xC4\xE4"), "@[`{\xC4\xE4");
}

TEST(NamesTest, SameNameAgreesWithTheStore) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } const kCases[] = {
      {"Value", "VALUE", true}, {"Value", "Value ", false}, {"", "", true},
      {"\xC4", "\xE4", false},  {"[", "{", false},          {"Z", "z", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(regstore::SameName(c.a, c.b), c.same);
    EXPECT_EQ(regstore::FoldName(c.a) == regstore::FoldName(c.b), c.same);
  }
}

}  // namespace
