#include "import/config_check.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/ui.h"
#include "testing/temp_files.h"

namespace {

struct Checked {
  std::string output;
  RunOutcome outcome;
  std::string at;  // "FILE:" as the lines begin
};

Checked Check(const std::string& contents) {
  Checked checked;
  const std::string file = testing_support::WriteTempFile(contents);
  std::ostringstream out;
  CheckConfigFile(plat::kHkeyCurrentUser, file, "Brevlin", 2, checked.outcome, out);
  checked.output = out.str();
  checked.at = plat::MessageFileName(file) + ":";
  return checked;
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
      "15: warning: the key path begins with \"\\\": the registry refuses it, and nothing is "
      "written until the next root line\n" +
      p + "16: warning: the value line writes nothing: its key may not be written\n" + p +
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
  RunOutcome outcome;
  std::ostringstream out;
  CheckConfigFile(plat::kHkeyCurrentUser, missing, "Brevlin", 2, outcome, out);
  EXPECT_EQ(out.str().rfind(plat::MessageFileName(missing) + ": error: cannot read the file: ", 0),
            0u)
      << out.str();
  EXPECT_EQ(ExitStatusOf(outcome), kExitFileUnreadable);
}

}  // namespace
