// The table of root keys: every lookup finds each root by its own name or
// handle, and nothing else.
#include "regdefs/root_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using namespace regdefs;

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

TEST(RootKeysTest, EachRootIsFoundByItsNamesAndHandleOnly) {
  for (std::size_t i = 0; i < kRootKeyCount; ++i) {
    const RootKeyEntry& root = kRootKeys[i];
    SCOPED_TRACE(std::string(root.name));
    EXPECT_EQ(RootKeyByName(root.name), &root);
    EXPECT_EQ(RootKeyByHandle(root.key), &root);
    EXPECT_EQ(RootKeyIndex(root.key), i);
    EXPECT_EQ(RootKeyByAnyName(root.short_name, SameAscii), &root);
  }
}

TEST(RootKeysTest, LookupsRefuseWhatIsNoRootKey) {
  // Exact lookups take the full name only, with its case.
  EXPECT_EQ(RootKeyByName("HKCU"), nullptr);
  EXPECT_EQ(RootKeyByName("hkey_current_user"), nullptr);
  EXPECT_EQ(RootKeyByName("HKEY_CURRENT_USER\\"), nullptr);
  EXPECT_EQ(RootKeyByName(""), nullptr);
  EXPECT_EQ(RootKeyByHandle(kNullKey), nullptr);
  EXPECT_EQ(RootKeyByHandle(PredefinedKey(0x80000004u)), nullptr);  // HKEY_PERFORMANCE_DATA
  EXPECT_EQ(RootKeyIndex(kNullKey), kRootKeyCount);
  // The command line's lookup takes either name in any case, but no prefix.
  EXPECT_EQ(RootKeyByAnyName("hklm", SameAscii), RootKeyByHandle(kHkeyLocalMachine));
  EXPECT_EQ(RootKeyByAnyName("Hkey_Users", SameAscii), RootKeyByHandle(kHkeyUsers));
  EXPECT_EQ(RootKeyByAnyName("HKC", SameAscii), nullptr);
  EXPECT_EQ(RootKeyByAnyName("HKEY_CURRENT", SameAscii), nullptr);
}

}  // namespace
