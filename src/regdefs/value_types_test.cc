// The value-type table: each named type is found by its number and its name,
// and nothing else is.
#include "regdefs/value_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using namespace regdefs;

TEST(ValueTypesTest, NumbersAndNamesMatchTheRegistrysOwn) {
  static const struct {
    std::uint32_t type;
    const char* name;
  } kExpected[] = {
      {0, "REG_NONE"},
      {1, "REG_SZ"},
      {2, "REG_EXPAND_SZ"},
      {3, "REG_BINARY"},
      {4, "REG_DWORD"},
      {5, "REG_DWORD_BIG_ENDIAN"},
      {6, "REG_LINK"},
      {7, "REG_MULTI_SZ"},
      {8, "REG_RESOURCE_LIST"},
      {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
      {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
      {11, "REG_QWORD"},
  };
  ASSERT_EQ(kValueTypeCount, std::size(kExpected));
  for (const auto& expected : kExpected) {
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(ValueTypeName(expected.type), expected.name);
    const ValueTypeEntry* entry = ValueTypeByName(expected.name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->type, expected.type);
  }
}

TEST(ValueTypesTest, TableHoldsEachNumberAndNameOnce) {
  std::set<std::uint32_t> types;
  std::set<std::string_view> names;
  for (const ValueTypeEntry& entry : kValueTypes) {
    EXPECT_TRUE(types.insert(entry.type).second) << entry.type;
    EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
  }
}

TEST(ValueTypesTest, UnnamedTypesAndOtherNamesAreRefused) {
  for (std::uint32_t type : {12u, 0x20000u, 0xFFFFFFFFu})
    EXPECT_TRUE(ValueTypeName(type).empty()) << type;
  // Exact names only: no other case, no prefix, no trailing text.
  for (const char* name :
       {"reg_sz", "Reg_Sz", "REG_", "REG_S", "REG_SZ ", "REG_DWORD_LITTLE_ENDIAN", "SZ", ""})
    EXPECT_EQ(ValueTypeByName(name), nullptr) << name;
}

// The lookups are usable where a constant is needed.
static_assert(ValueTypeName(kRegMultiSz) == "REG_MULTI_SZ");
static_assert(ValueTypeByName("REG_QWORD")->type == kRegQword);

}  // namespace
