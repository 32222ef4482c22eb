#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "import/handshake.h"
#include "import/imp_exp_reg.h"
#include "platform/ui.h"
#include "registry/registry_object.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

using testing_support::KeyExists;
using testing_support::ReadValue;
using testing_support::StoredValue;
using Bytes = std::vector<std::uint8_t>;

constexpr plat::RegKey kHkcu = plat::kHkeyCurrentUser;
constexpr plat::RegKey kHklm = plat::kHkeyLocalMachine;
const char kTitle[] = "Register Brevlin";

StoredValue Dword(std::int32_t value) {
  std::uint32_t bits = static_cast<std::uint32_t>(value);
  return StoredValue{
      plat::kRegDword,
      Bytes{static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)}};
}

StoredValue Text(const std::string& text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return StoredValue{plat::kRegSz, bytes};
}

StoredValue Binary(Bytes bytes) {
  return StoredValue{plat::kRegBinary, std::move(bytes)};
}

class ImportConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetMessageRecorder([this](const plat::ShownMessage& m) { messages_.push_back(m); });
  }
  void TearDown() override { plat::SetMessageRecorder(nullptr); }

  bool Import(const std::string& contents, plat::RegKey root = kHkcu, bool show_errors = false,
              ImportScope scope = ImportScope::kBoth, const std::string& product = "Brevlin") {
    return ImportConfigFile(root, testing_support::WriteTempFile(contents), product, show_errors,
                            scope);
  }

  // Creates the key and refuses write access to it and below.
  static bool Protect(plat::RegKey root, const std::string& path) {
    TRegistry registry;
    registry.SelectRoot(root);
    return registry.OpenPath(path, true) && testing_support::ProtectKey(root, path);
  }

  // The handshake value, or nothing when it is absent.
  std::optional<StoredValue> Loading() { return ReadValue(kHkcu, kHandshakeKey, kHandshakeValue); }

  testing_support::ScopedTestRegistry registry_;
  std::vector<plat::ShownMessage> messages_;
};

TEST_F(ImportConfigFileTest, CompleteImportWritesEveryValueAndRemovesTheHandshake) {
  EXPECT_TRUE(
      Import("<<comment\r\n"
             "<[Brevlin]>\r\n"
             "<HKEY_CURRENT_USER>\r\n"
             "[Software\\BrevlinTest\\Example]\r\n"
             "string\tText\tHello world\r\n"
             "integer\tCount\t1,024\r\n"
             "binary\tBytes\t0A,FF,10,\r\n"
             "string\t\tDefault\tvalue\r\n"
             "\r\n"
             "[Software\\BrevlinTest\\Example\\Sub]\r\n"
             "integer\tNegative\t-40\r\n"
             "integer\tHex\t$FF00\r\n"));
  EXPECT_TRUE(messages_.empty());
  const std::string key = "Software\\BrevlinTest\\Example";
  EXPECT_EQ(ReadValue(kHkcu, key, "Text"), Text("Hello world"));
  EXPECT_EQ(ReadValue(kHkcu, key, "Count"), Dword(1024));
  EXPECT_EQ(ReadValue(kHkcu, key, "Bytes"), Binary({0x0A, 0xFF, 0x10}));
  EXPECT_EQ(ReadValue(kHkcu, key, ""), Text("Default\tvalue"));
  EXPECT_EQ(ReadValue(kHkcu, key + "\\Sub", "Negative"), Dword(-40));
  EXPECT_EQ(ReadValue(kHkcu, key + "\\Sub", "Hex"), Dword(0xFF00));
  // Nothing else was written. (Wine lists values sorted by name, Windows and
  // the Linux store in the order they were made: compare them sorted.)
  std::vector<std::string> names = testing_support::ValueNames(kHkcu, key);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"", "Bytes", "Count", "Text"}));
  EXPECT_FALSE(Loading().has_value());
  EXPECT_TRUE(KeyExists(kHkcu, kHandshakeKey));
}

TEST_F(ImportConfigFileTest, EmptyFileRunsBothHandshakes) {
  EXPECT_TRUE(Import(""));
  EXPECT_TRUE(KeyExists(kHkcu, kHandshakeKey));
  EXPECT_FALSE(Loading().has_value());
  EXPECT_TRUE(messages_.empty());
}

// The closing handshake works on the handshake key below HKEY_CURRENT_USER
// whatever root and key the file ended with.
TEST_F(ImportConfigFileTest, ClosingHandshakeAfterAnotherRoot) {
  EXPECT_TRUE(Import("<HKEY_LOCAL_MACHINE>\n[Software\\BrevlinTest\\Last]\n"));
  EXPECT_TRUE(KeyExists(kHklm, "Software\\BrevlinTest\\Last"));
  EXPECT_FALSE(Loading().has_value());
  EXPECT_FALSE(ReadValue(kHklm, kHandshakeKey, kHandshakeValue).has_value());
}

TEST_F(ImportConfigFileTest, MissingFileIsReportedAndNothingIsWritten) {
  std::string name = testing_support::JoinPath(testing_support::NewTempDir(), "missing.cfg");
  EXPECT_FALSE(ImportConfigFile(kHkcu, name, "Brevlin", false, ImportScope::kBoth));
  ASSERT_EQ(messages_.size(), 1u);
  // On Linux the system's own text follows the error's, in brackets.
  const std::string head =
      "Could not import the program configuration due to the following error:\r\n"
      "File not found";
  const std::string tail = "\r\n\r\nFilename: " + name;
  const std::string& text = messages_[0].text;
  ASSERT_GE(text.size(), head.size() + tail.size());
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  const std::string system_text = text.substr(head.size(), text.size() - head.size() - tail.size());
  EXPECT_TRUE(system_text.empty() || (system_text.rfind(" (", 0) == 0 && system_text.back() == ')'))
      << system_text;
  EXPECT_EQ(messages_[0].caption, kTitle);
  EXPECT_EQ(messages_[0].type, 0x10010u);
  EXPECT_FALSE(KeyExists(kHkcu, kHandshakeKey));
}

TEST_F(ImportConfigFileTest, MissingFolderIsReportedAsInvalidFilename) {
  std::string dir = testing_support::JoinPath(testing_support::NewTempDir(), "no-such-folder");
  EXPECT_FALSE(ImportConfigFile(kHkcu, testing_support::JoinPath(dir, "x.cfg"), "Brevlin", true,
                                ImportScope::kBoth));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].text.find("\r\nInvalid filename"), std::string::npos);
}

TEST_F(ImportConfigFileTest, WrongProductStopsAndKeepsWhatWasWritten) {
  EXPECT_FALSE(
      Import("[Software\\BrevlinTest\\Before]\n"
             "string\tA\tkept\n"
             "<[brevlin]>\n"
             "[Software\\BrevlinTest\\After]\n"
             "string\tB\tnever\n"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(
      messages_[0].text,
      "This configuration file belongs to brevlin\r\nand is not compatible with this program.");
  EXPECT_EQ(messages_[0].caption, "Register Brevlin Import Error");
  EXPECT_EQ(messages_[0].owner, plat::kNoWindow);
  EXPECT_EQ(messages_[0].type, 0x10010u);
  EXPECT_EQ(ReadValue(kHkcu, "Software\\BrevlinTest\\Before", "A"), Text("kept"));
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\BrevlinTest\\After"));
  EXPECT_EQ(Loading(), Dword(0));
}

TEST_F(ImportConfigFileTest, MatchingProductChangesNothing) {
  EXPECT_TRUE(Import("[Software\\BrevlinTest\\K]\n<[Brevlin]>\nstring\tA\tstill open\n"));
  EXPECT_EQ(ReadValue(kHkcu, "Software\\BrevlinTest\\K", "A"), Text("still open"));
  // A file for a product of a name that differs only in a trailing "]" is
  // another product.
  EXPECT_FALSE(Import("<[Brevlin]> \n"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].text.find("belongs to Brevlin]\r\n"), std::string::npos);
}

TEST_F(ImportConfigFileTest, RefusedKeyWithShowErrorsStopsWithAMessage) {
  ASSERT_TRUE(Protect(kHklm, "Software\\BrevlinTest\\Locked"));
  EXPECT_FALSE(
      Import("<HKEY_LOCAL_MACHINE>\n"
             "[Software\\BrevlinTest\\Open]\n"
             "string\tA\twritten\n"
             "[Software\\BrevlinTest\\Locked]\n"
             "string\tB\tnot written\n"
             "<HKEY_CURRENT_USER>\n"
             "[Software\\BrevlinTest\\NeverRead]\n",
             kHkcu, /*show_errors=*/true));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text,
            "Cannot continue writing because you do not have the right to\r\n"
            "write to the HKEY_LOCAL_MACHINE registry key.");
  EXPECT_EQ(messages_[0].caption, "Register Brevlin Registry Error");
  EXPECT_EQ(messages_[0].owner, plat::kNoWindow);
  EXPECT_EQ(messages_[0].type, 0x10010u);
  EXPECT_EQ(ReadValue(kHklm, "Software\\BrevlinTest\\Open", "A"), Text("written"));
  EXPECT_FALSE(ReadValue(kHklm, "Software\\BrevlinTest\\Locked", "B").has_value());
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\BrevlinTest\\NeverRead"));
  EXPECT_EQ(Loading(), Dword(0));
}

TEST_F(ImportConfigFileTest, RefusedKeyWithoutShowErrorsSkipsUntilTheNextRootLine) {
  ASSERT_TRUE(Protect(kHkcu, "Software\\BrevlinTest\\Locked"));
  EXPECT_TRUE(
      Import("[Software\\BrevlinTest\\Locked]\n"
             "string\tA\tnot written\n"
             "[Software\\BrevlinTest\\Writable]\n"  // still skipped: writing is off
             "string\tB\tnot written\n"
             "<NOT_A_ROOT>\n"  // any root line turns writing on again
             "[Software\\BrevlinTest\\Writable]\n"
             "string\tC\twritten\n"));
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(ReadValue(kHkcu, "Software\\BrevlinTest\\Locked", "A").has_value());
  EXPECT_FALSE(ReadValue(kHkcu, "Software\\BrevlinTest\\Writable", "B").has_value());
  EXPECT_EQ(ReadValue(kHkcu, "Software\\BrevlinTest\\Writable", "C"), Text("written"));
  EXPECT_FALSE(Loading().has_value());
}

// Which roots each scope lets the import write: the starting root is
// HKEY_CURRENT_USER, and a root line selects each of the five in turn.
TEST_F(ImportConfigFileTest, ScopeRuleDecidesWhichRootsAreWritten) {
  struct Root {
    const char* name;
    plat::RegKey key;
  } roots[] = {{"HKEY_CLASSES_ROOT", plat::kHkeyClassesRoot},
               {"HKEY_CURRENT_USER", kHkcu},
               {"HKEY_LOCAL_MACHINE", kHklm},
               {"HKEY_USERS", plat::kHkeyUsers},
               {"HKEY_CURRENT_CONFIG", plat::kHkeyCurrentConfig}};
  struct Scope {
    std::uint8_t scope;
    bool start, hkcr, hkcu, hklm, hku, hkcc;
  } scopes[] = {
      {0, true, true, true, false, true, true},     {1, false, true, false, true, true, true},
      {2, true, true, true, true, true, true},      {3, false, true, false, false, true, true},
      {255, false, true, false, false, true, true},
  };
  for (const Scope& s : scopes) {
    testing_support::ScopedTestRegistry fresh;
    std::string file = "[BrevlinTest\\Start]\nstring\tV\tx\n";
    for (const Root& r : roots) {
      file += std::string("<") + r.name + ">\n[BrevlinTest\\Scope]\nstring\tV\tx\n";
    }
    EXPECT_TRUE(Import(file, kHkcu, false, static_cast<ImportScope>(s.scope)))
        << "scope " << int(s.scope);
    const bool expected[] = {s.hkcr, s.hkcu, s.hklm, s.hku, s.hkcc};
    EXPECT_EQ(ReadValue(kHkcu, "BrevlinTest\\Start", "V").has_value(), s.start)
        << "scope " << int(s.scope);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(ReadValue(roots[i].key, "BrevlinTest\\Scope", "V").has_value(), expected[i])
          << "scope " << int(s.scope) << ", " << roots[i].name;
    }
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ImportConfigFileTest, ScopeOneWritesNothingUntilAnotherRoot) {
  EXPECT_TRUE(
      Import("[Software\\BrevlinTest\\A]\nstring\tV\tx\n"
             "<HKEY_CURRENT_USER>\n[Software\\BrevlinTest\\B]\nstring\tV\tx\n"
             "<HKEY_LOCAL_MACHINE>\n[Software\\BrevlinTest\\C]\nstring\tV\tx\n",
             kHkcu, false, ImportScope::kLocalMachine));
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\BrevlinTest\\A"));
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\BrevlinTest\\B"));
  EXPECT_EQ(ReadValue(kHklm, "Software\\BrevlinTest\\C", "V"), Text("x"));
}

// A value line with a type before any key line has no key to write to: the
// registry failure ends the import and reaches the caller.
TEST_F(ImportConfigFileTest, ValueWithoutAnOpenKeyRaises) {
  const std::pair<const char*, const char*> cases[] = {
      {"string\tFirst\tx\n", "Failed to set data for 'First'"},
      {"integer\tSecond\t1\n", "Failed to set data for 'Second'"},
      {"binary\tThird\t00,\n", "Failed to set data for 'Third'"},
      // A root line closes the open key, known root name or not.
      {"[Software\\BrevlinTest\\K]\n<NO_ROOT>\nstring\tAfterRoot\tx\n",
       "Failed to set data for 'AfterRoot'"},
  };
  for (const auto& c : cases) {
    testing_support::ScopedTestRegistry fresh;
    try {
      Import(c.first);
      ADD_FAILURE() << "no exception for " << c.first;
    } catch (const ERegistryException& e) {
      EXPECT_EQ(e.Message(), c.second);
    }
    EXPECT_EQ(Loading(), Dword(0)) << c.first;
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ImportConfigFileTest, KeyWithMoreThanAMegabyteOfValuesArrivesWhole) {
  // The importer gathers a key's value lines and writes them in parts of
  // about a megabyte: every value arrives. (The order in which they are
  // listed is the registry's own: Wine's lists them by name.)
  std::string text = "[Software\\BrevlinTest\\Big]\n";
  std::vector<std::string> names;
  for (int i = 0; i < 5; ++i) {
    names.push_back("V" + std::to_string(i));
    text += "string\t" + names.back() + "\t" + std::string(400000 + i, static_cast<char>('a' + i)) +
            "\n";
  }
  text += "string\tTail\tsmall\n[Software\\BrevlinTest\\Next]\ninteger\tN\t7\n";
  names.push_back("Tail");
  EXPECT_TRUE(Import(text));
  std::vector<std::string> stored =
      testing_support::ValueNames(kHkcu, "Software\\BrevlinTest\\Big");
  std::sort(stored.begin(), stored.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(stored, names);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(ReadValue(kHkcu, "Software\\BrevlinTest\\Big", "V" + std::to_string(i)),
              Text(std::string(400000 + i, static_cast<char>('a' + i))));
  }
  EXPECT_EQ(ReadValue(kHkcu, "Software\\BrevlinTest\\Next", "N"), Dword(7));
  EXPECT_FALSE(Loading().has_value());
}

TEST_F(ImportConfigFileTest, LinesThatNameNoTypeWriteNothing) {
  EXPECT_TRUE(
      Import("String\tA\tx\n"
             " string\tB\tx\n"
             "string C x\n"
             "[Software\\BrevlinTest\\K]\n"
             "String\tD\tx\n"
             "dword\tE\t1\n"
             " [Software\\BrevlinTest\\NotAKey]\n"));
  EXPECT_TRUE(testing_support::ValueNames(kHkcu, "Software\\BrevlinTest\\K").empty());
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\BrevlinTest\\NotAKey"));
}

TEST_F(ImportConfigFileTest, ValuesAreDecodedByTheirType) {
  EXPECT_TRUE(
      Import("[Software\\BrevlinTest\\Values]\n"
             "integer\tStopsEarly\t-5 \n"
             "integer\tEmpty\t\n"
             "integer\tWraps\t4294967295\n"
             "binary\tShort\tFF\n"
             "binary\tNoSeparator\t0AFF10\n"
             "string\tEmptyText\t\n"
             "string\tOneTab\n"
             "string\tTabs\ta\tb\t\n"));
  const std::string key = "Software\\BrevlinTest\\Values";
  EXPECT_EQ(ReadValue(kHkcu, key, "StopsEarly"), Dword(-5));
  EXPECT_EQ(ReadValue(kHkcu, key, "Empty"), Dword(0));
  EXPECT_EQ(ReadValue(kHkcu, key, "Wraps"), Dword(-1));
  EXPECT_EQ(ReadValue(kHkcu, key, "Short"), Binary({}));
  EXPECT_EQ(ReadValue(kHkcu, key, "NoSeparator"), Binary({0x0A, 0xF1}));
  EXPECT_EQ(ReadValue(kHkcu, key, "EmptyText"), Text(""));
  EXPECT_EQ(ReadValue(kHkcu, key, ""), Text("OneTab"));  // one tab: the unnamed value
  EXPECT_EQ(ReadValue(kHkcu, key, "Tabs"), Text("a\tb\t"));
}

// Every key path is taken below the current root. The probe hands a path to
// the registry as it stands, and the registry refuses one that begins with a
// backslash: such a key counts as not writable.
TEST_F(ImportConfigFileTest, KeyPathsAreTakenBelowTheRoot) {
  EXPECT_TRUE(
      Import("[Software\\BrevlinTest\\A]\n"
             "[Software\\BrevlinTest\\C\\D]\n"
             "string\tV\td\n"
             "[\\Software\\BrevlinTest\\B]\n"
             "string\tV\tb\n"
             "[Software\\BrevlinTest\\E]\n"
             "string\tV\te\n"));
  EXPECT_EQ(ReadValue(kHkcu, "Software\\BrevlinTest\\C\\D", "V"), Text("d"));
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\BrevlinTest\\A\\Software"));
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\BrevlinTest\\B"));
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\BrevlinTest\\E"));
  EXPECT_TRUE(messages_.empty());
}

// "[]" probes and opens the root key itself; the values go there.
TEST_F(ImportConfigFileTest, EmptyKeyPathWritesIntoTheRootKey) {
  EXPECT_TRUE(Import("<HKEY_USERS>\n[]\nstring\tBrevlinTestRootValue\tx\n"));
  EXPECT_EQ(ReadValue(plat::kHkeyUsers, "", "BrevlinTestRootValue"), Text("x"));
  TRegistry cleanup;
  cleanup.SelectRoot(plat::kHkeyUsers);
  ASSERT_TRUE(cleanup.OpenPath("", false));
  EXPECT_TRUE(cleanup.RemoveValue("BrevlinTestRootValue"));
}

// Whatever bytes a file holds, the import ends in one of its outcomes: it
// answers, shows one of its messages, or raises a registry failure.
TEST_F(ImportConfigFileTest, ArbitraryBytesEndInAnOutcome) {
  std::string junk;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const char pick[] = {'[', ']', '<', '>', '\t', '\n', '\r', '\x1a', '\0', 'x', '\\', '$'};
    junk.push_back((seed >> 16) % 3 == 0 ? static_cast<char>(seed >> 8)
                                         : pick[(seed >> 20) % sizeof(pick)]);
  }
  for (std::size_t start = 0; start < junk.size(); start += 2000) {
    testing_support::ScopedTestRegistry fresh;
    // Keep the writes under the test keys: every key line goes below BrevlinTest.
    std::string file = "<HKEY_CURRENT_USER>\n[Software\\BrevlinTest]\n" + junk.substr(start, 2000);
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
      if (file[i] == '\n' && (file[i + 1] == '[' || file[i + 1] == '<'))
        file[i + 1] = 'x';
    }
    try {
      Import(file);
    } catch (const ERegistryException&) {
    }
  }
  for (const plat::ShownMessage& m : messages_) {
    EXPECT_EQ(m.caption.rfind("Register Brevlin", 0), 0u) << m.caption;
  }
}

}  // namespace
