// The dry run's listing: what it says of each kind of line, and that its
// names are the registry's.
#include "import/config_check.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/posix/scratch_registry.h"
#include "platform/ui.h"
#include "testing/posix/program_runner.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

using plat::posix::ScratchRegistry;

struct Checked {
  std::string output;
  RunOutcome outcome;
  std::string at;  // "FILE:" as the lines begin
};

Checked CheckFile(const std::string& file, ScratchRegistry::Start start) {
  Checked checked;
  std::ostringstream out;
  {
    ScratchRegistry scratch(start);
    EXPECT_EQ(scratch.Error(), "");
    StoredNames names;
    names.key_path = plat::posix::StoredKeyPath;
    names.value_names = plat::posix::StoredValueNames;
    CheckConfigFile(plat::kHkeyCurrentUser, file, "Brevlin", ImportScope::kBoth, names,
                    checked.outcome, out);
  }
  checked.output = out.str();
  checked.at = plat::MessageFileName(file) + ":";
  return checked;
}

Checked Check(const std::string& contents,
              ScratchRegistry::Start start = ScratchRegistry::Start::kEmpty) {
  return CheckFile(testing_support::WriteTempFile(contents), start);
}

// Every warning that leaves the import running, one per line, among lines
// that write as their text says.
const char kEveryWarning[] =
    "<<Every warning that does not stop the import\n"
    "<[Brevlin]>\n"
    "<HKEY_LOCAL_MACHINE>\n"
    "[Software\\A]\n"
    "string\tText\tsay \"hi\"\tthere\n"
    "strng\tTypo\tx\n"
    " [Software\\Indented]\n"
    "novalue\n"
    "[Software\\A\\B] \n"
    "integer\tBig\t4294967296\n"
    "integer\tApples\t12 apples\n"
    "integer\tNone\tabc\n"
    "binary\tShort\t0A,FF\n"
    "<HKEY_NOWHERE>\n"
    "[\\Software\\Lead]\n"
    "string\tLost\tx\n"
    "<HKEY_CURRENT_USER>\n"
    "[Software\\C]\n"
    "integer\tOk\t$FF00\n"
    "binary\t\t\n";

TEST(CheckConfigFile, ListsWritesAndEveryWarningWithItsLine) {
  testing_support::ScopedTestRegistry registry;
  Checked c = Check(kEveryWarning);
  const std::string& p = c.at;
  const std::string expected =
      p + "4: key HKEY_LOCAL_MACHINE\\Software\\A\n" + p +
      "5: value HKEY_LOCAL_MACHINE\\Software\\A \"Text\" REG_SZ \"say \\\"hi\\\"\\tthere\"\n" + p +
      "6: warning: unknown type word \"strng\" (string, integer or binary): the line writes "
      "nothing\n" +
      p +
      "7: warning: the line begins with a space: it is read as a value line, and writes "
      "nothing\n" +
      p + "8: warning: a value line without a tab: it writes nothing\n" + p +
      "9: warning: the key line does not end in \"]\": its last character is dropped all the "
      "same, and the key is \"Software\\\\A\\\\B]\"\n" +
      p + "9: key HKEY_LOCAL_MACHINE\\Software\\A\\B]\n" + p +
      "10: warning: integer text \"4294967296\" does not fit in 32 bits: the digits stop "
      "before the one that would pass 0xFFFFFFFF, and the value is 0x19999999 (429496729)\n" +
      p +
      "10: value HKEY_LOCAL_MACHINE\\Software\\A\\B] \"Big\" REG_DWORD 0x19999999 (429496729)\n" +
      p +
      "11: warning: integer text \"12 apples\" is not a whole number: the reading stops at "
      "the first character that is not a digit, and the value is 0x0000000c (12)\n" +
      p + "11: value HKEY_LOCAL_MACHINE\\Software\\A\\B] \"Apples\" REG_DWORD 0x0000000c (12)\n" +
      p + "12: warning: integer text \"abc\" has no digits: the value is 0\n" + p +
      "12: value HKEY_LOCAL_MACHINE\\Software\\A\\B] \"None\" REG_DWORD 0x00000000 (0)\n" + p +
      "13: warning: binary text of 5 characters: every byte takes three (two digits and a "
      "separator), so the last 2 give no byte\n" +
      p + "13: value HKEY_LOCAL_MACHINE\\Software\\A\\B] \"Short\" REG_BINARY 0a\n" + p +
      "14: warning: unknown root \"HKEY_NOWHERE\": the keys that follow stay below "
      "HKEY_LOCAL_MACHINE\n" +
      p +
      "15: warning: the registry refuses the key \"\\\\Software\\\\Lead\": nothing is written "
      "until the next root line\n" +
      p + "16: warning: the value line writes nothing: a key before it was refused\n" + p +
      "18: key HKEY_CURRENT_USER\\Software\\C\n" + p +
      "19: value HKEY_CURRENT_USER\\Software\\C \"Ok\" REG_DWORD 0x0000ff00 (65280)\n" + p +
      "20: value HKEY_CURRENT_USER\\Software\\C (Default) REG_BINARY (no bytes)\n" + p +
      " 3 keys, 7 values, 11 warnings\n";
  EXPECT_EQ(c.output, expected);
  // Lines that write nothing make the run one in which not all was written;
  // data read otherwise than it reads are warnings only.
  EXPECT_EQ(c.outcome.Count(RunEvent::kLineSkipped), 4u);
  EXPECT_EQ(c.outcome.Count(RunEvent::kWriteRefused), 1u);
  EXPECT_EQ(ExitStatusOf(c.outcome), kExitNotAllWritten);
}

TEST(CheckConfigFile, StopsWhereTheImportWouldStop) {
  struct Case {
    std::string contents;
    std::string last_line;  // after "FILE:"
    int status;
  };
  const Case cases[] = {
      {"<[Brevlin]>\nstring\tEarly\tx\n[Software\\A]\n",
       "2: error: a value line with no key line before it (since the start of the file or the "
       "last root line): the import stops here with \"Failed to set data for 'Early'\"",
       kExitNotAllWritten},
      {"[Software\\A]\n<HKEY_USERS>\ninteger\tAfterRoot\t1\n",
       "3: error: a value line with no key line before it (since the start of the file or the "
       "last root line): the import stops here with \"Failed to set data for 'AfterRoot'\"",
       kExitNotAllWritten},
      {"[Software\\A]\n<[Other]>\n[Software\\B]\n",
       "2: error: the file belongs to \"Other\", not to \"Brevlin\": the import stops here",
       kExitWrongProduct},
  };
  testing_support::ScopedTestRegistry registry;
  for (const Case& k : cases) {
    Checked c = Check(k.contents);
    const std::string stop = c.at + k.last_line + "\n";
    const std::string::size_type found = c.output.find(stop);
    ASSERT_NE(found, std::string::npos) << c.output;
    // Only the summary follows.
    EXPECT_EQ(c.output.find(c.at, found + stop.size()), found + stop.size()) << c.output;
    EXPECT_EQ(c.output.find('\n', found + stop.size()), c.output.size() - 1) << c.output;
    EXPECT_EQ(ExitStatusOf(c.outcome), k.status) << c.output;
  }
}

TEST(CheckConfigFile, AFileThatCannotBeOpenedIsAFileError) {
  const std::string missing =
      testing_support::JoinPath(testing_support::NewTempDir(), "missing.cfg");
  testing_support::ScopedTestRegistry registry;
  Checked c = CheckFile(missing, ScratchRegistry::Start::kEmpty);
  EXPECT_EQ(c.output.rfind(c.at + " error: cannot read the file: ", 0), 0u) << c.output;
  EXPECT_EQ(ExitStatusOf(c.outcome), kExitFileUnreadable);
}

// The listing names keys and values as the registry holds them once the
// import is done: a NUL ends a name, empty path elements are dropped, a
// name keeps the case it was first made with, and what the registry
// refuses for its length is listed as refused.
TEST(CheckConfigFile, ListsNamesAsTheRegistryTakesThem) {
  const std::string long_name(257, 'n');
  const std::string long_path = "Software\\" + std::string(252, 'p');  // 261 characters
  struct Case {
    std::string contents;
    std::string listed;  // the listing after "FILE:", without the summary
  } cases[] = {
      {std::string("[Software\\A]\nstring\tN\0x\tv\0w\n", 28),
       "1: key HKEY_CURRENT_USER\\Software\\A\n"
       "2: value HKEY_CURRENT_USER\\Software\\A \"N\" REG_SZ \"v\\x00w\"\n"},
      {"[Software\\\\A\\]\n", "1: key HKEY_CURRENT_USER\\Software\\A\n"},
      {"[Software\\Ab]\ninteger\tCount\t1\n[SOFTWARE\\aB\\c]\ninteger\tCOUNT\t2\n"
       "[software\\ab]\ninteger\tcount\t3\n",
       "1: key HKEY_CURRENT_USER\\Software\\Ab\n"
       "2: value HKEY_CURRENT_USER\\Software\\Ab \"Count\" REG_DWORD 0x00000001 (1)\n"
       "3: key HKEY_CURRENT_USER\\Software\\Ab\\c\n"
       "4: value HKEY_CURRENT_USER\\Software\\Ab\\c \"COUNT\" REG_DWORD 0x00000002 (2)\n"
       "5: key HKEY_CURRENT_USER\\Software\\Ab\n"
       "6: value HKEY_CURRENT_USER\\Software\\Ab \"Count\" REG_DWORD 0x00000003 (3)\n"},
      {"[Software\\" + long_name + "]\nstring\tV\tx\n",
       "1: warning: the registry refuses the key \"Software\\\\" + long_name +
           "\": nothing is written until the next root line\n"
           "2: warning: the value line writes nothing: a key before it was refused\n"},
      {"[" + long_path + "]\n<HKEY_CURRENT_USER>\n[" + long_path.substr(0, 260) + "]\n",
       "1: warning: the registry refuses the key \"" + std::string("Software\\\\") +
           std::string(252, 'p') +
           "\": nothing is written until the next root line\n"
           "3: key HKEY_CURRENT_USER\\" +
           long_path.substr(0, 260) + "\n"},
      {"[Software\\Esc\x1b[2J]\n", "1: key HKEY_CURRENT_USER\\Software\\Esc\\x1B[2J\n"},
  };
  for (const Case& k : cases) {
    testing_support::ScopedTestRegistry registry;
    Checked c = Check(k.contents);
    std::string expected;
    std::istringstream lines(k.listed);
    for (std::string line; std::getline(lines, line);)
      expected += c.at + line + "\n";
    const std::string::size_type summary = c.output.rfind(c.at + " ");
    ASSERT_NE(summary, std::string::npos) << c.output;
    EXPECT_EQ(c.output.substr(0, summary), expected);
  }
}

// With --check=store the import runs against a copy of the store as it is:
// its protections and letter cases answer, and the store stays as it was.
TEST(CheckConfigFile, AgainstTheStoreAsItIs) {
  testing_support::ScopedTestRegistry registry;
  {
    testing_support::ScopedRegKey key;
    ASSERT_EQ(key.Create(plat::kHkeyCurrentUser, "Software\\MixedCase"), plat::kErrorSuccess);
    ASSERT_EQ(key.Create(plat::kHkeyCurrentUser, "Software\\Locked"), plat::kErrorSuccess);
  }
  ASSERT_TRUE(testing_support::ProtectKey(plat::kHkeyCurrentUser, "Software\\Locked"));
  plat::FlushPendingWrites();
  testing_support::StoreContent before;
  std::string error;
  ASSERT_TRUE(testing_support::ReadStoreContent(registry.StorePath(), &before, &error)) << error;
  const std::string file = testing_support::WriteTempFile(
      "[software\\mixedcase\\New]\nstring\tV\tx\n[Software\\Locked]\nstring\tW\ty\n");

  Checked c = CheckFile(file, ScratchRegistry::Start::kCopyOfStore);
  EXPECT_NE(c.output.find(c.at + "1: key HKEY_CURRENT_USER\\Software\\MixedCase\\New\n"),
            std::string::npos)
      << c.output;
  EXPECT_NE(c.output.find(c.at + "3: warning: the registry refuses the key"), std::string::npos)
      << c.output;
  EXPECT_EQ(ExitStatusOf(c.outcome), kExitNotAllWritten);
  EXPECT_FALSE(testing_support::KeyExists(plat::kHkeyCurrentUser, "Software\\MixedCase\\New"));
  testing_support::StoreContent after;
  ASSERT_TRUE(testing_support::ReadStoreContent(registry.StorePath(), &after, &error)) << error;
  EXPECT_TRUE(after == before) << "the store changed";

  // An empty throwaway store knows neither (only the handshake's key
  // Software, which it makes first).
  Checked fresh = CheckFile(file, ScratchRegistry::Start::kEmpty);
  EXPECT_NE(fresh.output.find(fresh.at + "1: key HKEY_CURRENT_USER\\Software\\mixedcase\\New\n"),
            std::string::npos)
      << fresh.output;
  EXPECT_EQ(ExitStatusOf(fresh.outcome), kExitSuccess) << fresh.output;
}

}  // namespace
