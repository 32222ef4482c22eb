#include "regstore_tool/cli.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "regstore/regstore.h"
#include "testing/registry_fixture.h"
#include "testing/regstore_cli.h"
#include "testing/temp_files.h"

namespace regstore_tool {
namespace {

using plat::kHkeyCurrentUser;
using testing_support::KeyExists;
using testing_support::ReadValue;
using testing_support::StoredValue;

using FakeConsole = testing_support::FakeConsole;
using Result = testing_support::RegstoreResult;

Result Regstore(const std::vector<std::string>& args, FakeConsole* console = nullptr,
                bool terminal = false) {
  return testing_support::RunRegstoreCommand(args, console, terminal);
}

void Set(const std::string& path, const std::string& name, std::uint32_t type,
         const std::string& bytes) {
  plat::RegKey key = plat::kNullKey;
  ASSERT_EQ(plat::RegCreateKeyExA(kHkeyCurrentUser, path.c_str(), 0, nullptr, 0,
                                  plat::kKeyAllAccess, nullptr, &key, nullptr),
            plat::kErrorSuccess);
  EXPECT_EQ(plat::RegSetValueExA(key, name.c_str(), 0, type,
                                 reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                 static_cast<std::uint32_t>(bytes.size())),
            plat::kErrorSuccess);
  plat::RegCloseKey(key);
}

StoredValue Value(std::uint32_t type, const std::string& bytes) {
  return {type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

std::optional<StoredValue> Read(const std::string& path, const std::string& name) {
  return ReadValue(kHkeyCurrentUser, path, name);
}

const char kBase[] = "Software\\BrevlinTest";

class RegstoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Set(kBase, "", plat::kRegSz, std::string("default\0", 8));
    Set(kBase, "Path", plat::kRegSz, std::string("C:\\Dir\\\"q\"\0", 11));
    Set(kBase, "Quote\"Name", plat::kRegDword, std::string("\x78\x56\x34\x12", 4));
    Set(kBase, "Bin", plat::kRegBinary, "\x01\xab\xff");
    Set(kBase, "Expand", plat::kRegExpandSz, std::string("%X%\0", 4));
    Set(kBase, "Lines", plat::kRegSz, std::string("a\r\nb\0", 5));
    Set(kBase, "Multi", plat::kRegMultiSz, std::string("one\0two\0\0", 9));
    Set(kBase, "Short", plat::kRegDword, "\x01\x02");
    Set(kBase, "Empty", plat::kRegBinary, "");
    Set(std::string(kBase) + "\\Sub", "Q", plat::kRegQword, std::string("\x01\0\0\0\0\0\0\x80", 8));
    Set(std::string(kBase) + "\\another", "x", plat::kRegSz, std::string("y\0", 2));
  }

  std::string TempFile(const std::string& name) {
    return testing_support::JoinPath(testing_support::NewTempDir(), name);
  }

  testing_support::ScopedTestRegistry registry_;
};

const char kValuesShown[] =
    "    (Default)    REG_SZ    default\n"
    "    Path    REG_SZ    C:\\Dir\\\"q\"\n"
    "    Quote\"Name    REG_DWORD    0x12345678\n"
    "    Bin    REG_BINARY    01ABFF\n"
    "    Expand    REG_EXPAND_SZ    %X%\n"
    "    Lines    REG_SZ    a\\r\\nb\n"
    "    Multi    REG_MULTI_SZ    one\\0two\n"
    "    Short    REG_DWORD    0102\n"
    "    Empty    REG_BINARY    \n";

TEST_F(RegstoreTest, QueryShowsValuesAndSubkeys) {
  Result plain = Regstore({"query", "hkcu\\software\\brevlintest"});
  EXPECT_EQ(plain.code, 0) << plain.err;
  EXPECT_EQ(plain.out, std::string("\nHKEY_CURRENT_USER\\Software\\BrevlinTest\n") + kValuesShown +
                           "\n"
                           "HKEY_CURRENT_USER\\Software\\BrevlinTest\\another\n"
                           "HKEY_CURRENT_USER\\Software\\BrevlinTest\\Sub\n");

  Result deep = Regstore({"QUERY", "HKEY_CURRENT_USER\\Software\\BrevlinTest", "/S"});
  EXPECT_EQ(deep.code, 0) << deep.err;
  EXPECT_EQ(deep.out, std::string("\nHKEY_CURRENT_USER\\Software\\BrevlinTest\n") + kValuesShown +
                          "\n"
                          "HKEY_CURRENT_USER\\Software\\BrevlinTest\\another\n"
                          "    x    REG_SZ    y\n"
                          "\n"
                          "HKEY_CURRENT_USER\\Software\\BrevlinTest\\Sub\n"
                          "    Q    REG_QWORD    0x8000000000000001\n"
                          "\n");

  // A key without values has no line of its own; one without either shows
  // the blank line alone.
  Result bare = Regstore({"query", "hkcu\\software"});
  EXPECT_EQ(bare.out, "\nHKEY_CURRENT_USER\\Software\\BrevlinTest\n");
  ASSERT_EQ(Regstore({"add", "HKCU\\Software\\BrevlinTest\\Sub\\Empty", "/ve", "/f"}).code, 0);
  ASSERT_EQ(Regstore({"delete", "HKCU\\Software\\BrevlinTest\\Sub\\Empty", "/ve", "/f"}).code, 0);
  EXPECT_EQ(Regstore({"query", "HKCU\\Software\\BrevlinTest\\Sub\\Empty"}).out, "\n");
}

TEST_F(RegstoreTest, QueryOfOneValue) {
  ASSERT_EQ(Regstore({"add", "HKCU\\Software\\NoDefault", "/v", "n", "/f"}).code, 0);
  const struct {
    std::vector<std::string> args;
    int code;
    std::string out;
  } cases[] = {
      {{"query", "HKCU\\Software\\BrevlinTest", "/v", "path"},
       0,
       "\nHKEY_CURRENT_USER\\Software\\BrevlinTest\n    Path    REG_SZ    C:\\Dir\\\"q\"\n\n"},
      {{"query", "HKCU\\Software\\BrevlinTest", "-VE"},
       0,
       "\nHKEY_CURRENT_USER\\Software\\BrevlinTest\n    (Default)    REG_SZ    default\n\n"},
      {{"query", "HKCU\\Software\\BrevlinTest", "/v", "Missing"}, 1, "\n"},
      {{"query", "HKCU\\Software\\NoDefault", "/ve"},
       0,
       "\nHKEY_CURRENT_USER\\Software\\NoDefault\n"
       "    (Default)    REG_SZ    (value not set)\n"},
      {{"query", "HKCU\\Software", "/v", "x", "/s"},
       0,
       "\nHKEY_CURRENT_USER\\Software\\BrevlinTest\\another\n    x    REG_SZ    y\n\n"
       "End of search: 1 match(es) found.\n"},
  };
  for (const auto& c : cases) {
    Result result = Regstore(c.args);
    EXPECT_EQ(result.code, c.code) << c.args[1] << " " << c.args.back();
    EXPECT_EQ(result.out, c.out) << c.args[1] << " " << c.args.back();
  }
}

TEST_F(RegstoreTest, QueryAsJson) {
  Result result = Regstore({"query", "HKCU\\Software\\BrevlinTest\\Sub", "--json"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out,
            "{\"keys\": [\n"
            "  {\"key\": \"HKEY_CURRENT_USER\\\\Software\\\\BrevlinTest\\\\Sub\",\n"
            "   \"values\": [\n"
            "    {\"name\": \"Q\", \"type\": \"REG_QWORD\", \"data\": 9223372036854775809}\n"
            "   ],\n"
            "   \"subkeys\": []}\n"
            "]}\n");
  Result top = Regstore({"query", "HKCU\\Software\\BrevlinTest", "/json"});
  EXPECT_EQ(top.code, 0);
  for (const char* part :
       {"{\"name\": \"\", \"type\": \"REG_SZ\", \"data\": \"default\"}",
        "{\"name\": \"Quote\\\"Name\", \"type\": \"REG_DWORD\", \"data\": 305419896}",
        "{\"name\": \"Lines\", \"type\": \"REG_SZ\", \"data\": \"a\\r\\nb\"}",
        "{\"name\": \"Multi\", \"type\": \"REG_MULTI_SZ\", \"data\": [\"one\", \"two\"]}",
        "{\"name\": \"Short\", \"type\": \"REG_DWORD\", \"data\": \"0102\"}",
        "{\"name\": \"Bin\", \"type\": \"REG_BINARY\", \"data\": \"01abff\"}",
        "\"subkeys\": [\"another\", \"Sub\"]}"}) {
    EXPECT_NE(top.out.find(part), std::string::npos) << part << "\n" << top.out;
  }
  Result deep = Regstore({"query", "HKCU\\Software\\BrevlinTest", "/s", "--json"});
  EXPECT_EQ(deep.out.find("subkeys"), std::string::npos);
  EXPECT_NE(deep.out.find("{\"key\": \"HKEY_CURRENT_USER\\\\Software\\\\BrevlinTest\\\\another\""),
            std::string::npos);
  // Errors are JSON on standard error.
  Result missing = Regstore({"query", "HKCU\\Software\\Missing", "--json"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err,
            "{\"error\": \"The registry key HKEY_CURRENT_USER\\\\Software\\\\Missing does not "
            "exist.\", \"status\": 1}\n");
}

TEST_F(RegstoreTest, ControlCharactersShownEscapedButExportedExactly) {
  Set(kBase, "\x1b]0;title\x07", plat::kRegSz, std::string("\x1b[31mred\tx\0", 11));
  Result shown = Regstore({"query", "HKCU\\Software\\BrevlinTest", "/v", "\x1b]0;title\x07"});
  EXPECT_EQ(shown.code, 0) << shown.err;
  EXPECT_NE(shown.out.find("    \\x1B]0;title\\x07    REG_SZ    \\x1B[31mred\\tx\n"),
            std::string::npos)
      << shown.out;
  const std::string file = TempFile("control.reg");
  ASSERT_EQ(Regstore({"export", "HKCU\\Software\\BrevlinTest", file}).code, 0);
  EXPECT_NE(testing_support::ReadWholeFile(file).find("\"\x1b]0;title\x07\"=\"\x1b[31mred\tx\""),
            std::string::npos);
  // Exported to a pipe exactly, to a terminal escaped.
  EXPECT_NE(Regstore({"export", "HKCU\\Software\\BrevlinTest"}).out.find("\x1b[31m"),
            std::string::npos);
  Result terminal = Regstore({"export", "HKCU\\Software\\BrevlinTest"}, nullptr, true);
  EXPECT_EQ(terminal.out.find('\x1b'), std::string::npos);
  EXPECT_NE(terminal.out.find("=\"\\x1B[31mred\\tx\"\r\n"), std::string::npos);
  // JSON escapes as JSON does.
  EXPECT_NE(Regstore({"query", "HKCU\\Software\\BrevlinTest", "--json"})
                .out.find("\"data\": \"\\u001B[31mred\\tx\""),
            std::string::npos);
}

TEST_F(RegstoreTest, ExportWritesRegedit4) {
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
      "\"Q\"=hex(b):01,00,00,00,00,00,00,80\r\n"
      "\r\n";
  Result to_stdout = Regstore({"export", "HKCU\\SOFTWARE\\BrevlinTest"});
  EXPECT_EQ(to_stdout.code, 0) << to_stdout.err;
  EXPECT_EQ(to_stdout.out, expected);
  EXPECT_EQ(Regstore({"export", "HKCU\\SOFTWARE\\BrevlinTest", "-"}).out, expected);

  const std::string file = TempFile("out.reg");
  Result to_file = Regstore({"export", "HKCU\\Software\\BrevlinTest", file});
  EXPECT_EQ(to_file.code, 0) << to_file.err;
  EXPECT_EQ(to_file.out, "The operation completed successfully.\n");
  EXPECT_EQ(testing_support::ReadWholeFile(file), expected);

  // An existing file is overwritten with /y, or when the user agrees.
  Result refused = Regstore({"export", "HKCU\\Software\\BrevlinTest\\Sub", file});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("give /y to overwrite it"), std::string::npos) << refused.err;
  EXPECT_EQ(testing_support::ReadWholeFile(file), expected);
  FakeConsole console;
  console.interactive = true;
  console.answer = true;
  EXPECT_EQ(Regstore({"export", "HKCU\\Software\\BrevlinTest\\Sub", file}, &console).code, 0);
  EXPECT_EQ(console.questions.size(), 1u);
  EXPECT_EQ(testing_support::ReadWholeFile(file),
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\BrevlinTest\\Sub]\r\n"
            "\"Q\"=hex(b):01,00,00,00,00,00,00,80\r\n\r\n");
  EXPECT_EQ(Regstore({"export", "HKCU\\Software\\BrevlinTest", file, "/Y"}).code, 0);
  EXPECT_EQ(testing_support::ReadWholeFile(file), expected);

  // A root alone exports the whole root.
  Result root = Regstore({"export", "HKEY_CURRENT_USER"});
  EXPECT_EQ(root.code, 0);
  EXPECT_EQ(root.out.substr(0, 35), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER]\r\n\r\n");
}

// What export writes, import reads back the same, in both formats.
TEST_F(RegstoreTest, ExportThenImportRoundTrips) {
  Set(kBase, "Caf\xc3\xa9", plat::kRegMultiSz, std::string("\xe2\x82\xac\0x\0\0", 7));
  const std::string before = Regstore({"query", "HKCU\\Software\\BrevlinTest", "/s"}).out;
  for (const char* version : {"", "/5"}) {
    const std::string file = TempFile("round.reg");
    std::vector<std::string> args = {"export", "HKCU\\Software\\BrevlinTest", file};
    if (*version)
      args.push_back(version);
    ASSERT_EQ(Regstore(args).code, 0);
    ASSERT_EQ(Regstore({"delete", "HKCU\\Software\\BrevlinTest", "/f"}).code, 0);
    Result imported = Regstore({"import", file});
    EXPECT_EQ(imported.code, 0) << imported.err;
    EXPECT_EQ(Regstore({"query", "HKCU\\Software\\BrevlinTest", "/s"}).out, before) << version;
  }
}

TEST_F(RegstoreTest, ImportWarnsOfSkippedLinesAndWritesTheRest) {
  FakeConsole console;
  console.input.str(
      "REGEDIT4\n"
      "[HKEY_CURRENT_USER\\Software\\Imported]\n"
      "\"A\"=dword:1\n"
      "\"Bad\"=dword:xyz\n"
      "[HKEY_NOWHERE\\X]\n"
      "\"Lost\"=\"x\"\n"
      "[HKEY_CURRENT_USER\\Software\\Imported\\Sub]\n"
      "@=\"d\"\n"
      "[-HKEY_CURRENT_USER\\Software\\BrevlinTest\\another]\n"
      "[HKEY_CURRENT_USER\\Software\\BrevlinTest]\n"
      "\"Bin\"=-\n"
      "\"NotThere\"=-\n"
      "\"Cut\\0Short\"=\"x\"\n");
  // Skipped lines are warnings: the import goes on and succeeds.
  Result result = Regstore({"import", "-"}, &console);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.err,
            "regstore: (standard input):4: dword: needs 1 to 8 hexadecimal digits; the line is "
            "skipped\n"
            "regstore: (standard input):5: the key HKEY_NOWHERE\\X begins with no root key's "
            "name\n"
            "regstore: (standard input):13: the value name holds \"\\0\", which the registry's "
            "tools refuse; the line is skipped\n");
  EXPECT_EQ(Read("Software\\Imported", "A"), Value(plat::kRegDword, std::string("\1\0\0\0", 4)));
  EXPECT_EQ(Read("Software\\Imported\\Sub", ""), Value(plat::kRegSz, std::string("d\0", 2)));
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, "Software\\BrevlinTest\\another"));
  EXPECT_FALSE(Read(kBase, "Bin"));
  EXPECT_TRUE(Read(kBase, "Path"));
  EXPECT_FALSE(Read(kBase, "Cut"));

  const std::string not_reg = testing_support::WriteTempFile("[HKCU\\X]\n", "x.reg");
  Result refused = Regstore({"import", not_reg});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find(not_reg + ":1: not a registry file"), std::string::npos);
  EXPECT_EQ(Regstore({"import", "/nonexistent/x.reg"}).err,
            "regstore: ERROR: Cannot read the file /nonexistent/x.reg: No such file or "
            "directory.\n");
}

TEST_F(RegstoreTest, AddTakesDataAsRegExeDoes) {
  const struct {
    std::vector<std::string> options;
    int code;
    std::uint32_t type;
    std::string data;
  } cases[] = {
      {{"/d", "text"}, 0, plat::kRegSz, std::string("text\0", 5)},
      {{}, 0, plat::kRegSz, std::string("\0", 1)},
      {{"/t", "reg_expand_sz", "/d", "%P%"}, 0, plat::kRegExpandSz, std::string("%P%\0", 4)},
      {{"/t", "REG_NONE", "/d", "xy"}, 0, plat::kRegNone, std::string("x\0y\0\0\0", 6)},
      {{"/t", "REG_NONE"}, 0, plat::kRegNone, std::string("\0\0", 2)},
      {{"/t", "REG_NONE", "/d", "\xc3\xa9"}, 0, plat::kRegNone, std::string("\xe9\0\0\0", 4)},
      {{"/t", "REG_DWORD", "/d", "1024"}, 0, plat::kRegDword, std::string("\0\4\0\0", 4)},
      {{"/t", "REG_DWORD", "/d", "0xFFFFFFFF"}, 0, plat::kRegDword, "\xff\xff\xff\xff"},
      {{"/t", "REG_DWORD"}, 2, 0, ""},
      {{"/t", "REG_QWORD"}, 0, plat::kRegQword, std::string(8, '\0')},
      {{"/t", "REG_DWORD", "/d", ""}, 0, plat::kRegDword, std::string("\0\0\0\0", 4)},
      {{"/t", "REG_DWORD_BIG_ENDIAN", "/d", ""}, 0, plat::kRegDwordBigEndian,
       std::string("\0\0\0\0", 4)},
      // reg.exe stores a big-endian dword's number in the machine's order.
      {{"/t", "REG_DWORD_BIG_ENDIAN", "/d", "0x1020304"},
       0,
       plat::kRegDwordBigEndian,
       std::string("\4\3\2\1", 4)},
      {{"/t", "reg_dword_little_endian", "/d", "7"},
       0,
       plat::kRegDword,
       std::string("\7\0\0\0", 4)},
      {{"/t", "REG_DWORD", "/d", "4294967296"}, 2, 0, ""},
      {{"/t", "REG_DWORD", "/d", "-1"}, 2, 0, ""},
      {{"/t", "REG_DWORD", "/d", "0x"}, 2, 0, ""},
      {{"/t", "REG_DWORD", "/d", "12a"}, 2, 0, ""},
      {{"/t", "REG_QWORD", "/d", "0x8000000000000001"},
       0,
       plat::kRegQword,
       std::string("\1\0\0\0\0\0\0\x80", 8)},
      {{"/t", "REG_QWORD", "/d", "18446744073709551616"}, 2, 0, ""},
      {{"/t", "REG_BINARY", "/d", "00ff10Ab"},
       0,
       plat::kRegBinary,
       std::string("\0\xff\x10\xab", 4)},
      {{"/t", "REG_BINARY"}, 0, plat::kRegBinary, ""},
      // An odd digit count: the first byte is of one digit, as reg reads it.
      {{"/t", "REG_BINARY", "/d", "abc"}, 0, plat::kRegBinary, "\x0a\xbc"},
      {{"/t", "REG_BINARY", "/d", "a"}, 0, plat::kRegBinary, "\x0a"},
      {{"/t", "REG_BINARY", "/d", "abz"}, 2, 0, ""},
      // reg takes a negative qword as its 64-bit two's complement.
      {{"/t", "REG_QWORD", "/d", "-1"}, 0, plat::kRegQword, std::string(8, '\xff')},
      {{"/t", "REG_QWORD", "/d", "-0x2"}, 0, plat::kRegQword, "\xfe" + std::string(7, '\xff')},
      {{"/t", "REG_QWORD", "/d", "-"}, 2, 0, ""},
      {{"/t", "REG_BINARY", "/d", "zz"}, 2, 0, ""},
      {{"/t", "REG_MULTI_SZ", "/d", "one\\0two"},
       0,
       plat::kRegMultiSz,
       std::string("one\0two\0\0", 9)},
      {{"/t", "REG_MULTI_SZ", "/d", "a#b", "/s", "#"},
       0,
       plat::kRegMultiSz,
       std::string("a\0b\0\0", 5)},
      {{"/t", "REG_MULTI_SZ"}, 0, plat::kRegMultiSz, std::string("\0", 1)},
      {{"/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"}, 2, 0, ""},
      {{"/t", "REG_MULTI_SZ", "/d", "a#b#", "/s", "#"},
       0,
       plat::kRegMultiSz,
       std::string("a\0b\0\0", 5)},
      {{"/t", "REG_MULTI_SZ", "/d", "a##", "/s", "#"}, 2, 0, ""},
      {{"/t", "REG_MULTI_SZ", "/d", "a", "/s", "##"}, 2, 0, ""},
      {{"/t", "REG_SZ", "/s", "#", "/d", "a#b"}, 0, plat::kRegSz, std::string("a#b\0", 4)},
      {{"/t", "REG_LINK"}, 2, 0, ""},
      {{"/t", "REG_RESOURCE_LIST", "/d", "00"}, 2, 0, ""},
      {{"/t", "REG_WHATEVER"}, 2, 0, ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "v" + std::to_string(n++);
    std::vector<std::string> args = {"add", "HKCU\\Software\\Added", "/v", name};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Result result = Regstore(args);
    EXPECT_EQ(result.code, c.code) << name << ": " << result.err;
    if (c.code == 0)
      EXPECT_EQ(Read("Software\\Added", name), Value(c.type, c.data)) << name;
    else
      EXPECT_FALSE(Read("Software\\Added", name)) << name;
  }
  // A key alone gets the empty unnamed value (the keys above it get none);
  // /t and /d without /v or /ve set the unnamed value.
  EXPECT_EQ(Regstore({"ADD", "HKCU\\Software\\Added\\Deeper\\Still"}).code, 0);
  EXPECT_EQ(Read("Software\\Added\\Deeper\\Still", ""), Value(plat::kRegSz, std::string("\0", 1)));
  EXPECT_TRUE(KeyExists(kHkeyCurrentUser, "Software\\Added\\Deeper"));
  EXPECT_FALSE(Read("Software\\Added\\Deeper", ""));
  EXPECT_EQ(Regstore({"add", "HKCU\\Software\\Added", "/ve", "/d", "unnamed"}).code, 0);
  EXPECT_EQ(Read("Software\\Added", ""), Value(plat::kRegSz, std::string("unnamed\0", 8)));
  EXPECT_EQ(Regstore({"add", "HKCU\\Software\\Added", "/t", "REG_DWORD", "/d", "9", "/f"}).code, 0);
  EXPECT_EQ(Read("Software\\Added", ""), Value(plat::kRegDword, std::string("\x09\0\0\0", 4)));
  EXPECT_EQ(Regstore({"add", "HKCU\\Software\\Added", "/d", "x"}).code, 1);  // exists, no /f
  EXPECT_EQ(Regstore({"add", "HKCU\\Software\\Added", "/v", "x", "/ve"}).code, 2);
}

TEST_F(RegstoreTest, AddAsksBeforeOverwriting) {
  const std::vector<std::string> args = {"add", "HKCU\\Software\\BrevlinTest", "/v", "Path", "/d",
                                         "new"};
  const auto original = Read(kBase, "Path");
  Result refused = Regstore(args);
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.err,
            "regstore: ERROR: The value Path exists in HKEY_CURRENT_USER\\Software\\BrevlinTest; "
            "give /f to overwrite it.\n");
  FakeConsole no;
  no.interactive = true;
  EXPECT_EQ(Regstore(args, &no).code, 1);
  EXPECT_EQ(no.questions, std::vector<std::string>({"Value Path exists, overwrite it (Yes/No)? "}));
  EXPECT_EQ(Read(kBase, "Path"), original);
  FakeConsole yes;
  yes.interactive = yes.answer = true;
  EXPECT_EQ(Regstore(args, &yes).code, 0);
  EXPECT_EQ(Read(kBase, "Path"), Value(plat::kRegSz, std::string("new\0", 4)));
  std::vector<std::string> forced = args;
  forced.back() = "forced";
  forced.push_back("/F");
  EXPECT_EQ(Regstore(forced).code, 0);
  EXPECT_EQ(Read(kBase, "Path"), Value(plat::kRegSz, std::string("forced\0", 7)));
}

TEST_F(RegstoreTest, DeleteKeysAndValues) {
  const std::string key = "HKCU\\Software\\BrevlinTest";
  EXPECT_EQ(Regstore({"delete", key, "/v", "bin"}).code, 1);  // no /f, no terminal
  EXPECT_TRUE(Read(kBase, "Bin"));
  EXPECT_EQ(Regstore({"delete", key, "/v", "bin", "/f"}).code, 0);
  EXPECT_FALSE(Read(kBase, "Bin"));
  EXPECT_TRUE(Read(kBase, "Path"));
  Result missing = Regstore({"delete", key, "/v", "bin", "/f"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("unable to find"), std::string::npos) << missing.err;
  EXPECT_EQ(Regstore({"delete", key, "/ve", "/f"}).code, 0);
  EXPECT_FALSE(Read(kBase, ""));
  EXPECT_EQ(Regstore({"delete", key, "/va", "/f"}).code, 0);
  EXPECT_TRUE(testing_support::ValueNames(kHkeyCurrentUser, kBase).empty());
  EXPECT_TRUE(KeyExists(kHkeyCurrentUser, std::string(kBase) + "\\Sub"));
  EXPECT_EQ(Regstore({"delete", key, "/v", "x", "/va"}).code, 2);

  FakeConsole no;
  no.interactive = true;
  EXPECT_EQ(Regstore({"delete", key}, &no).code, 1);
  EXPECT_TRUE(KeyExists(kHkeyCurrentUser, kBase));
  FakeConsole yes;
  yes.interactive = yes.answer = true;
  EXPECT_EQ(Regstore({"delete", key}, &yes).code, 0);
  EXPECT_EQ(yes.questions,
            std::vector<std::string>({"Permanently delete the registry key "
                                      "HKEY_CURRENT_USER\\Software\\BrevlinTest (Yes/No)? "}));
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, kBase));
  EXPECT_TRUE(KeyExists(kHkeyCurrentUser, "Software"));
  EXPECT_EQ(Regstore({"delete", "HKCU", "/f"}).code, 1);
}

TEST_F(RegstoreTest, DeleteProtectAndLock) {
  Result protect = Regstore({"protect", "HKCU\\Software\\BrevlinTest\\another"});
  EXPECT_EQ(protect.code, 0) << protect.err;
  plat::RegKey key = plat::kNullKey;
  EXPECT_EQ(plat::RegOpenKeyExA(kHkeyCurrentUser, "Software\\BrevlinTest\\another", 0,
                                plat::kKeyAllAccess, &key),
            plat::kErrorAccessDenied);
  Result refused = Regstore({"delete", "HKCU\\Software\\BrevlinTest", "/f"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("protected"), std::string::npos) << refused.err;
  EXPECT_TRUE(KeyExists(kHkeyCurrentUser, "Software\\BrevlinTest\\another"));
  EXPECT_EQ(Regstore({"unprotect", "HKCU\\Software\\BrevlinTest\\another"}).code, 0);

  EXPECT_EQ(Regstore({"lock", "HKCU\\Software\\BrevlinTest"}).code, 0);
  EXPECT_EQ(Regstore({"add", "HKCU\\Software\\BrevlinTest", "/v", "New", "/f"}).code, 1);
  EXPECT_EQ(Regstore({"unlock", "HKCU\\Software\\BrevlinTest"}).code, 0);
  EXPECT_EQ(Regstore({"add", "HKCU\\Software\\BrevlinTest", "/v", "New", "/f"}).code, 0);
}

TEST_F(RegstoreTest, CopyValuesAndTrees) {
  EXPECT_EQ(Regstore({"copy", "HKCU\\Software\\BrevlinTest", "HKLM\\Software\\Copied"}).code, 0);
  EXPECT_EQ(ReadValue(plat::kHkeyLocalMachine, "Software\\Copied", "Multi"), Read(kBase, "Multi"));
  EXPECT_FALSE(KeyExists(plat::kHkeyLocalMachine, "Software\\Copied\\Sub"));
  // The target exists now: /f, or the user's consent.
  EXPECT_EQ(Regstore({"copy", "HKCU\\Software\\BrevlinTest", "HKLM\\Software\\Copied", "/s"}).code,
            1);
  EXPECT_EQ(
      Regstore({"copy", "HKCU\\Software\\BrevlinTest", "HKLM\\Software\\Copied", "/s", "/f"}).code,
      0);
  EXPECT_EQ(ReadValue(plat::kHkeyLocalMachine, "Software\\Copied\\Sub", "Q"),
            Read(std::string(kBase) + "\\Sub", "Q"));
  EXPECT_EQ(testing_support::SubkeyNames(plat::kHkeyLocalMachine, "Software\\Copied"),
            std::vector<std::string>({"another", "Sub"}));

  const struct {
    std::vector<std::string> args;
    int code;
  } refused[] = {
      {{"copy", "HKCU\\Software\\BrevlinTest", "HKCU\\Software\\BrevlinTest\\Sub\\Deep", "/s"}, 1},
      {{"copy", "HKCU\\Software\\BrevlinTest", "hkcu\\software\\brevlintest", "/f"}, 1},
      {{"copy", "HKCU\\Software\\Missing", "HKCU\\Software\\Other"}, 1},
      {{"copy", "HKCU\\Software\\BrevlinTest"}, 2},
  };
  for (const auto& c : refused)
    EXPECT_EQ(Regstore(c.args).code, c.code) << c.args.back();
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, "Software\\BrevlinTest\\Sub\\Deep"));
}

TEST_F(RegstoreTest, CommandLineErrors) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* message;
  } cases[] = {
      {{}, 2, "no command given"},
      {{"frobnicate", "HKCU"}, 2, "unknown command 'frobnicate'"},
      {{"query"}, 2, "query takes one key"},
      {{"query", "HKCU", "/x"}, 2, "query takes one key"},
      {{"query", "HKCU", "-x"}, 2, "unknown option '-x'"},
      {{"query", "HKCU", "/v"}, 2, "the option /v needs a value"},
      {{"delete", "HKCU", "more"}, 2, "delete takes one key"},
      {{"add", "HKCU\\Software\\X\\\\"}, 2, "ends with two backslashes"},
      {{"copy", "/?", "HKCU\\A"}, 2, "/? takes no other arguments"},
      {{"add", "HKCU\\X", "/t", "REG_LINK"}, 2, "unsupported registry data type REG_LINK"},
      {{"query", "HKEY_NOWHERE\\Software"}, 2, "Invalid key name 'HKEY_NOWHERE\\Software'"},
      {{"query", "HKCU\\Software\\Missing"},
       1,
       "The registry key HKEY_CURRENT_USER\\Software\\Missing does not exist."},
      {{"protect", "HKLM\\Nothing"},
       1,
       "The registry key HKEY_LOCAL_MACHINE\\Nothing does not exist."},
      {{"export", "HKCU\\Software\\BrevlinTest", "/nonexistent-folder/x.reg"},
       1,
       "Cannot write the file /nonexistent-folder/x.reg: No such file or directory."},
  };
  for (const auto& c : cases) {
    Result result = Regstore(c.args);
    EXPECT_EQ(result.code, c.code) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "") << c.message;
  }
}

TEST_F(RegstoreTest, HelpForEachCommand) {
  for (const char* command :
       {"query", "add", "delete", "copy", "import", "export", "protect", "lock", "help"}) {
    for (const char* form : {"/?", "--help", "-H"}) {
      Result result = Regstore({command, form});
      EXPECT_EQ(result.code, 0) << command;
      EXPECT_EQ(result.out.find(std::string("Usage: regstore ") + command), 0u) << result.out;
    }
    EXPECT_EQ(Regstore({"help", command}).out, Regstore({command, "/?"}).out);
  }
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"help"}, {"--help"}, {"/?"}, {"HELP"}}) {
    Result result = Regstore(args);
    EXPECT_EQ(result.code, 0);
    EXPECT_NE(result.out.find("Exit status: 0 success"), std::string::npos);
  }
}

// Output that cannot be written (a full disk, a closed pipe) is a failure
// with the system's reason, whatever the command.
TEST_F(RegstoreTest, FailedOutputIsReported) {
  const std::vector<std::vector<std::string>> commands = {
      {"query", "HKCU\\Software\\BrevlinTest", "/s"},
      {"query", "HKCU\\Software\\BrevlinTest", "/s", "--json"},
      {"export", "HKCU\\Software\\BrevlinTest"},
      {"export", "HKCU\\Software\\BrevlinTest", "-", "/5"},
      {"help"},
      {"add", "HKCU\\Software\\Other", "/f"},
  };
  for (const auto& args : commands) {
    for (bool terminal : {false, true}) {
      FakeConsole console;
      StringOutput out;
      StringOutput err;
      out.fail_with = ENOSPC;
      out.terminal = terminal;
      EXPECT_EQ(RunRegstore(args, out, err, console), 1) << args[0];
      const bool json = args.back() == "--json";
      EXPECT_EQ(err.text(),
                json ? "{\"error\": \"Cannot write the output: No space left on device.\", "
                       "\"status\": 1}\n"
                     : "regstore: ERROR: Cannot write the output: No space left on device.\n")
          << args[0];
    }
  }
}

// Commands that only read never create a store: a mistyped REGSTORE is an
// error, not an empty store.
TEST_F(RegstoreTest, ReadCommandsNeedAnExistingStore) {
  const std::string missing = TempFile("typo.db");
  regstore::UseStorePath(missing);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"query", "HKCU"}, {"export", "HKCU"}, {"delete", "HKCU\\X", "/f"}, {"lock", "HKCU"}}) {
    Result result = Regstore(args);
    EXPECT_EQ(result.code, 1) << args[0];
    EXPECT_EQ(result.err, "regstore: ERROR: The registry store " + missing +
                              " does not exist (is REGSTORE set to the right file?)\n");
    EXPECT_NE(::access(missing.c_str(), F_OK), 0) << args[0];
  }
  EXPECT_EQ(Regstore({"add", "HKCU\\Software\\New"}).code, 0);
  EXPECT_EQ(::access(missing.c_str(), F_OK), 0);
  regstore::UseStorePath(registry_.StorePath());
}

TEST_F(RegstoreTest, UnusableOrReadOnlyStore) {
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
}  // namespace regstore_tool
