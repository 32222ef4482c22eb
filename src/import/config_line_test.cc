#include "import/config_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ClassifyLine, ByFirstCharactersInOrder) {
  const std::pair<std::string, LineKind> cases[] = {
      {"", LineKind::kBlank},
      {" \t ", LineKind::kBlank},
      {std::string("\0\x01\x1f \x20", 5), LineKind::kBlank},
      {"[Software\\X]", LineKind::kKey},
      {"[", LineKind::kKey},
      {"<[Brevlin]>", LineKind::kProduct},
      {"<[", LineKind::kProduct},
      {"<<anything at all", LineKind::kIgnored},
      {"<<", LineKind::kIgnored},
      {"<HKEY_LOCAL_MACHINE>", LineKind::kRoot},
      {"<", LineKind::kRoot},
      {"<]", LineKind::kRoot},
      {"string\tName\tValue", LineKind::kValue},
      {" [Software\\X]", LineKind::kValue},  // a space before "[" makes a value line
      {"\t<HKEY_USERS>", LineKind::kValue},
      {"x", LineKind::kValue},
      {"\x7f", LineKind::kValue},
      {"\xa0", LineKind::kValue},  // bytes above 0x7F are not blank
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyLine(c.first), c.second) << "line \"" << c.first << "\"";
  }
}

TEST(BracketFields, AreCutByPosition) {
  const std::pair<std::string, std::string> keys[] = {
      {"[Software\\X]", "Software\\X"},
      {"[Software\\X", "Software\\"},      // no closing bracket: loses its last character
      {"[Software\\X] ", "Software\\X]"},  // trailing space: loses the space, keeps "]"
      {"[", ""},
      {"[]", ""},
      {"[\\Absolute\\Path]", "\\Absolute\\Path"},
  };
  for (const auto& c : keys)
    EXPECT_EQ(KeyPathOf(c.first), c.second) << c.first;

  const std::pair<std::string, std::string> roots[] = {
      {"<HKEY_LOCAL_MACHINE>", "HKEY_LOCAL_MACHINE"},
      {"<HKEY_LOCAL_MACHINE> ", "HKEY_LOCAL_MACHINE>"},
      {"<", ""},
      {"<x", ""},
  };
  for (const auto& c : roots)
    EXPECT_EQ(RootNameOf(c.first), c.second) << c.first;

  const std::pair<std::string, std::string> products[] = {
      {"<[Brevlin]>", "Brevlin"},   {"<[", ""}, {"<[B", "B"}, {"<[BC", ""}, {"<[]>", ""},
      {"<[Brevlin]> ", "Brevlin]"},
  };
  for (const auto& c : products)
    EXPECT_EQ(ProductNameOf(c.first), c.second) << c.first;
}

TEST(SplitValueLine, TabsSeparateTheThreeFields) {
  struct Case {
    std::string line, type_word, name, text;
  } cases[] = {
      {"string\tText\tHello world", "string", "Text", "Hello world"},
      {"string\t\t\tX", "string", "", "\tX"},    // further tabs belong to the text
      {"string\tHello", "string", "", "Hello"},  // one tab: empty name
      {"string\tName\t", "string", "Name", ""},
      {"string", "", "", ""},  // no tab
      {"\tName\tText", "", "Name", "Text"},
      {"binary\tB\t0A,FF\t10,", "binary", "B", "0A,FF\t10,"},
  };
  for (const Case& c : cases) {
    ValueFields fields = SplitValueLine(c.line);
    EXPECT_EQ(fields.type_word, c.type_word) << c.line;
    EXPECT_EQ(fields.name, c.name) << c.line;
    EXPECT_EQ(fields.text, c.text) << c.line;
  }
}

TEST(ValueTypeOf, WholeWordExactCase) {
  EXPECT_EQ(ValueTypeOf("string"), ValueType::kString);
  EXPECT_EQ(ValueTypeOf("integer"), ValueType::kInteger);
  EXPECT_EQ(ValueTypeOf("binary"), ValueType::kBinary);
  for (const char* other :
       {"String", "INTEGER", "Binary", "", " string", "string ", "strin", "dword", "integers"}) {
    EXPECT_EQ(ValueTypeOf(other), ValueType::kNone) << "\"" << other << "\"";
  }
}

TEST(RootNames, TheFiveNamesExactly) {
  const std::pair<const char*, plat::RegKey> names[] = {
      {"HKEY_CLASSES_ROOT", plat::kHkeyClassesRoot},
      {"HKEY_CURRENT_USER", plat::kHkeyCurrentUser},
      {"HKEY_LOCAL_MACHINE", plat::kHkeyLocalMachine},
      {"HKEY_USERS", plat::kHkeyUsers},
      {"HKEY_CURRENT_CONFIG", plat::kHkeyCurrentConfig},
  };
  for (const auto& n : names) {
    plat::RegKey key = plat::kNullKey;
    ASSERT_TRUE(RootKeyOfName(n.first, &key)) << n.first;
    EXPECT_EQ(key, n.second);
    EXPECT_EQ(NameOfRootKey(n.second), n.first);
  }
  for (const char* other : {"hkey_local_machine", "HKEY_LOCAL_MACHINE>", "HKLM", "",
                            "HKEY_PERFORMANCE_DATA", " HKEY_USERS"}) {
    plat::RegKey key = plat::kNullKey;
    EXPECT_FALSE(RootKeyOfName(other, &key)) << other;
    EXPECT_EQ(key, plat::kNullKey);
  }
  EXPECT_EQ(NameOfRootKey(plat::PredefinedKey(0x80000004u)), "");
  EXPECT_EQ(NameOfRootKey(plat::kNullKey), "");
}

}  // namespace
