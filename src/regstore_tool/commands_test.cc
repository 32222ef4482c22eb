#include "regstore_tool/commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

using namespace plat;

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result Regstore(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  int code = regstore_tool::RunRegstore(args, out, err);
  return {code, out.str(), err.str()};
}

void Set(const std::string& path, const std::string& name, std::uint32_t type,
         const std::string& bytes) {
  RegKey key = kNullKey;
  ASSERT_EQ(RegCreateKeyExA(kHkeyCurrentUser, path.c_str(), 0, nullptr, 0, kKeyAllAccess, nullptr,
                            &key, nullptr),
            kErrorSuccess);
  EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, type,
                           reinterpret_cast<const std::uint8_t*>(bytes.data()),
                           static_cast<std::uint32_t>(bytes.size())),
            kErrorSuccess);
  RegCloseKey(key);
}

class RegstoreCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string base = "Software\\BrevlinTest";
    Set(base, "", kRegSz, std::string("default\0", 8));
    Set(base, "Path", kRegSz, std::string("C:\\Dir\\\"q\"\0", 11));
    Set(base, "Quote\"Name", kRegDword, std::string("\x78\x56\x34\x12", 4));
    Set(base, "Bin", kRegBinary, "\x01\xab\xff");
    Set(base, "Expand", kRegExpandSz, std::string("%X%\0", 4));
    Set(base, "Lines", kRegSz, std::string("a\r\nb\0", 5));
    Set(base, "Multi", kRegMultiSz, std::string("one\0two\0\0", 9));
    Set(base, "Short", kRegDword, "\x01\x02");
    Set(base, "Empty", kRegBinary, "");
    RegKey key = kNullKey;
    RegCreateKeyExA(kHkeyCurrentUser, (base + "\\Sub").c_str(), 0, nullptr, 0, kKeyAllAccess,
                    nullptr, &key, nullptr);
    RegCloseKey(key);
    Set(base + "\\another", "x", kRegSz, std::string("y\0", 2));
  }

  testing_support::ScopedTestRegistry registry_;
};

TEST_F(RegstoreCommandTest, QueryShowsValuesAndSubkeys) {
  const std::string values =
      "    (Default)    REG_SZ    default\n"
      "    Path    REG_SZ    C:\\Dir\\\"q\"\n"
      "    Quote\"Name    REG_DWORD    0x12345678\n"
      "    Bin    REG_BINARY    01ABFF\n"
      "    Expand    REG_EXPAND_SZ    %X%\n"
      "    Lines    REG_SZ    a\r\nb\n"
      "    Multi    REG_MULTI_SZ    one\\0two\n"
      "    Short    REG_DWORD    0102\n"
      "    Empty    REG_BINARY    \n";
  Result plain = Regstore({"query", "hkcu\\software\\brevlintest"});
  EXPECT_EQ(plain.code, 0) << plain.err;
  EXPECT_EQ(plain.out, "\nHKEY_CURRENT_USER\\Software\\BrevlinTest\n" + values +
                           "\n"
                           "HKEY_CURRENT_USER\\Software\\BrevlinTest\\another\n"
                           "HKEY_CURRENT_USER\\Software\\BrevlinTest\\Sub\n");

  Result deep = Regstore({"query", "HKEY_CURRENT_USER\\Software\\BrevlinTest", "/s"});
  EXPECT_EQ(deep.code, 0) << deep.err;
  EXPECT_EQ(deep.out, "\nHKEY_CURRENT_USER\\Software\\BrevlinTest\n" + values +
                          "\n"
                          "HKEY_CURRENT_USER\\Software\\BrevlinTest\\another\n"
                          "    x    REG_SZ    y\n"
                          "\n"
                          "HKEY_CURRENT_USER\\Software\\BrevlinTest\\Sub\n"
                          "\n");
}

TEST_F(RegstoreCommandTest, ExportWritesRegedit4) {
  const std::string expected =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\BrevlinTest]\r\n"
      "@=\"default\"\r\n"
      "\"Path\"=\"C:\\\\Dir\\\\\\\"q\\\"\"\r\n"
      "\"Quote\\\"Name\"=dword:12345678\r\n"
      "\"Bin\"=hex:01,ab,ff\r\n"
      "\"Expand\"=hex(2):25,58,25,00\r\n"
      "\"Lines\"=hex(1):61,0d,0a,62,00\r\n"
      "\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\r\n"
      "\"Short\"=hex(4):01,02\r\n"
      "\"Empty\"=hex:\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\BrevlinTest\\another]\r\n"
      "\"x\"=\"y\"\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\BrevlinTest\\Sub]\r\n"
      "\r\n";
  Result to_stdout = Regstore({"export", "HKCU\\SOFTWARE\\BrevlinTest"});
  EXPECT_EQ(to_stdout.code, 0) << to_stdout.err;
  EXPECT_EQ(to_stdout.out, expected);

  const std::string file = testing_support::JoinPath(testing_support::NewTempDir(), "out.reg");
  Result to_file = Regstore({"export", "HKCU\\Software\\BrevlinTest", file});
  EXPECT_EQ(to_file.code, 0) << to_file.err;
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(testing_support::ReadWholeFile(file), expected);

  // A root alone exports the whole root.
  Result root = Regstore({"export", "HKEY_CURRENT_USER"});
  EXPECT_EQ(root.code, 0);
  EXPECT_EQ(root.out.substr(0, 35), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER]\r\n\r\n");
  EXPECT_NE(root.out.find("[HKEY_CURRENT_USER\\Software]\r\n\r\n[HKEY_CURRENT_USER\\Software\\"
                          "BrevlinTest]\r\n@="),
            std::string::npos);
}

TEST(RegeditValueLine, LongDataContinuesOnIndentedLines) {
  regstore::StoreValue value{"Blob", kRegBinary, std::vector<std::uint8_t>(60)};
  for (std::size_t i = 0; i < value.data.size(); ++i)
    value.data[i] = static_cast<std::uint8_t>(i);
  const std::string text = regstore_tool::RegeditValueLine(value);
  std::vector<std::string> lines;
  std::string::size_type start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  lines.push_back(text.substr(start));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 20), "\"Blob\"=hex:00,01,02,");
  EXPECT_EQ(lines[0].size(), 78u);  // 77 characters and the backslash
  EXPECT_EQ(lines[0].back(), '\\');
  EXPECT_EQ(lines[1].substr(0, 5), "  16,");
  EXPECT_EQ(lines[1].back(), '\\');
  EXPECT_EQ(lines[2].substr(lines[2].size() - 5), "3a,3b");
  // Without the line breaks, the text is every byte in order.
  std::string joined = lines[0].substr(0, lines[0].size() - 1) +
                       lines[1].substr(2, lines[1].size() - 3) + lines[2].substr(2);
  std::string expected = "\"Blob\"=hex:";
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof(byte), i == 0 ? "%02x" : ",%02x", static_cast<unsigned>(i));
    expected += byte;
  }
  EXPECT_EQ(joined, expected);
}

TEST_F(RegstoreCommandTest, DeleteProtectAndLock) {
  Result protect = Regstore({"protect", "HKCU\\Software\\BrevlinTest\\another"});
  EXPECT_EQ(protect.code, 0) << protect.err;
  RegKey key = kNullKey;
  EXPECT_EQ(
      RegOpenKeyExA(kHkeyCurrentUser, "Software\\BrevlinTest\\another", 0, kKeyAllAccess, &key),
      kErrorAccessDenied);
  Result refused = Regstore({"delete", "HKCU\\Software\\BrevlinTest"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("protected"), std::string::npos) << refused.err;
  EXPECT_TRUE(testing_support::KeyExists(kHkeyCurrentUser, "Software\\BrevlinTest\\another"));
  EXPECT_EQ(Regstore({"unprotect", "HKCU\\Software\\BrevlinTest\\another"}).code, 0);

  EXPECT_EQ(Regstore({"lock", "HKCU\\Software\\BrevlinTest"}).code, 0);
  ASSERT_EQ(RegOpenKeyExA(kHkeyCurrentUser, "Software\\BrevlinTest", 0, kKeyAllAccess, &key),
            kErrorSuccess);
  EXPECT_EQ(RegDeleteValueA(key, "Bin"), kErrorAccessDenied);
  EXPECT_EQ(Regstore({"unlock", "HKCU\\Software\\BrevlinTest"}).code, 0);
  EXPECT_EQ(RegDeleteValueA(key, "Bin"), kErrorSuccess);
  RegCloseKey(key);

  Result deleted = Regstore({"delete", "HKCU\\Software\\BrevlinTest"});
  EXPECT_EQ(deleted.code, 0) << deleted.err;
  EXPECT_FALSE(testing_support::KeyExists(kHkeyCurrentUser, "Software\\BrevlinTest"));
  EXPECT_TRUE(testing_support::KeyExists(kHkeyCurrentUser, "Software"));
  EXPECT_EQ(Regstore({"delete", "HKCU"}).code, 1);
}

TEST_F(RegstoreCommandTest, ErrorsAreClearAndNotZero) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* message;
  } cases[] = {
      {{}, 2, "no command given"},
      {{"frobnicate", "HKCU"}, 2, "unknown command 'frobnicate'"},
      {{"query"}, 2, "query takes a key"},
      {{"query", "HKCU", "/x"}, 2, "query takes a key"},
      {{"delete", "HKCU", "more"}, 2, "delete takes one key"},
      {{"query", "HKEY_NOWHERE\\Software"}, 1, "Invalid key name 'HKEY_NOWHERE\\Software'"},
      {{"query", "HKCU\\Software\\Missing"},
       1,
       "The registry key HKEY_CURRENT_USER\\Software\\Missing does not exist."},
      {{"protect", "HKLM\\Nothing"},
       1,
       "The registry key HKEY_LOCAL_MACHINE\\Nothing does not exist."},
      {{"export", "HKCU\\Software\\BrevlinTest", "/nonexistent-folder/x.reg"},
       1,
       "Cannot write the file /nonexistent-folder/x.reg."},
  };
  for (const auto& c : cases) {
    Result result = Regstore(c.args);
    EXPECT_EQ(result.code, c.code) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
}

TEST_F(RegstoreCommandTest, UnusableOrReadOnlyStore) {
  const std::string path = registry_.StorePath();
  regstore::UseStorePath(testing_support::WriteTempFile("this is no database at all", "bad.db"));
  Result bad = Regstore({"query", "HKCU"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("Cannot use the registry store"), std::string::npos) << bad.err;

  regstore::UseStorePath("");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  regstore::UseStorePath(path);
  Result read_only = Regstore({"protect", "HKCU\\Software"});
  EXPECT_EQ(read_only.code, 1);
  EXPECT_NE(read_only.err.find("is read-only"), std::string::npos) << read_only.err;
  EXPECT_EQ(Regstore({"query", "HKCU\\Software\\BrevlinTest\\another"}).code, 0);
  regstore::UseStorePath("");
  ::chmod(path.c_str(), 0644);
}

}  // namespace
