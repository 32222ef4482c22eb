// A writing command's changes are one unit, stored and on the disk before
// its success line, or not stored at all; messages name what the user named.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <unistd.h>

#include <functional>
#include <istream>
#include <streambuf>
#include <string>
#include <utility>

#include "platform/registry.h"
#include "regstore/regstore.h"
#include "testing/registry_fixture.h"
#include "testing/regstore_cli.h"
#include "testing/temp_files.h"

namespace regstore_tool {
namespace {

using plat::kHkeyCurrentUser;
using testing_support::FakeConsole;
using testing_support::KeyExists;
using testing_support::ReadValue;
using testing_support::RegstoreResult;
using testing_support::RunRegstoreCommand;

const char kSuccessLine[] = "The operation completed successfully.\n";

// Standard input that gives `text` one character at a time and, once it is
// read through, runs `at_end`: the command has then made its changes.
class InputThenAction : public std::streambuf {
 public:
  InputThenAction(std::string text, std::function<void()> at_end)
      : text_(std::move(text)), at_end_(std::move(at_end)) {}

 protected:
  int_type underflow() override {
    if (next_ < text_.size()) {
      current_ = text_[next_++];
      setg(&current_, &current_, &current_ + 1);
      return traits_type::to_int_type(current_);
    }
    if (at_end_) {
      std::function<void()> action = std::move(at_end_);
      at_end_ = nullptr;
      action();
    }
    return traits_type::eof();
  }

 private:
  std::string text_;
  std::size_t next_ = 0;
  char current_ = 0;
  std::function<void()> at_end_;
};

class CommitTest : public ::testing::Test {
 protected:
  RegstoreResult Regstore(const std::vector<std::string>& args, FakeConsole* console = nullptr) {
    return RunRegstoreCommand(args, console);
  }
  testing_support::ScopedTestRegistry registry_;
};

TEST_F(CommitTest, ImportIsStoredWholeOrNotAtAll) {
  ASSERT_EQ(Regstore({"add", "HKCU\\Software\\Old", "/v", "kept", "/d", "1", "/f"}).code, 0);
  ASSERT_EQ(Regstore({"add", "HKCU\\Software\\Guarded", "/f"}).code, 0);
  ASSERT_EQ(Regstore({"lock", "HKCU\\Software\\Guarded"}).code, 0);
  FakeConsole console;
  console.input.str(
      "REGEDIT4\n"
      "[HKEY_CURRENT_USER\\Software\\Fresh]\n"
      "\"A\"=\"x\"\n"
      "[-HKEY_CURRENT_USER\\Software\\Old]\n"
      "[HKEY_CURRENT_USER\\Software\\Guarded]\n"
      "\"B\"=\"y\"\n"
      "[HKEY_CURRENT_USER\\Software\\After]\n");
  RegstoreResult result = Regstore({"import", "-"}, &console);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("(standard input):6: cannot set the value B of "
                            "HKEY_CURRENT_USER\\Software\\Guarded: access is denied"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("ERROR: Nothing of (standard input) was imported."), std::string::npos)
      << result.err;
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, "Software\\Fresh"));
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, "Software\\After"));
  EXPECT_TRUE(ReadValue(kHkeyCurrentUser, "Software\\Old", "kept"));
}

// A copy that fails below the top key leaves the top key as it was.
TEST_F(CommitTest, CopyIsOneUnit) {
  ASSERT_EQ(Regstore({"add", "HKCU\\Software\\From", "/v", "top", "/d", "1", "/f"}).code, 0);
  ASSERT_EQ(Regstore({"add", "HKCU\\Software\\From\\Sub", "/v", "low", "/d", "2", "/f"}).code, 0);
  ASSERT_EQ(Regstore({"add", "HKCU\\Software\\To\\Sub", "/f"}).code, 0);
  ASSERT_EQ(Regstore({"lock", "HKCU\\Software\\To\\Sub"}).code, 0);
  RegstoreResult result =
      Regstore({"copy", "HKCU\\Software\\From", "HKCU\\Software\\To", "/s", "/f"});
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(ReadValue(kHkeyCurrentUser, "Software\\To", "top"));
}

// The store is replaced once the input is read: the command fails without
// its success line, and the store it worked on holds none of its changes.
TEST_F(CommitTest, AFailedCommitIsReportedAndNothingIsStored) {
  const std::string path = registry_.StorePath();
  const std::string aside = path + ".aside";
  // The long comment makes the reader take in the key and its value before
  // it reaches the end of its input, whatever it reads at a time.
  const std::string input_text = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Late]\n\"A\"=\"x\"\n;" +
                                 std::string(1 << 20, 'c') + "\n";
  InputThenAction input(input_text, [&] {
    ASSERT_EQ(::rename(path.c_str(), aside.c_str()), 0);
    FILE* other = ::fopen(path.c_str(), "w");
    ASSERT_NE(other, nullptr);
    ::fputs("another file", other);
    ::fclose(other);
  });
  std::istream stream(&input);
  FakeConsole console;
  console.stream = &stream;
  RegstoreResult result = Regstore({"import", "-"}, &console);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.out, "");
  // The reader may read ahead of the writes: the store then refuses a write
  // or the commit, and says why either way.
  EXPECT_NE(result.err.find("the registry store is damaged, was replaced or removed"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find(kSuccessLine), std::string::npos);
  // Every later write of the run is refused too, and reported.
  RegstoreResult later = Regstore({"add", "HKCU\\Software\\Later", "/f"});
  EXPECT_EQ(later.code, 1);
  EXPECT_EQ(later.out.find(kSuccessLine), std::string::npos);
  regstore::UseStorePath(aside);
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, "Software\\Late"));
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, "Software\\Later"));
}

// Names in messages keep the letter case the user gave them, where another
// case may name another file.
TEST_F(CommitTest, MessagesKeepTheCaseOfNames) {
  ASSERT_EQ(Regstore({"add", "HKCU\\Software\\CaseKey", "/v", "x", "/d", "1", "/f"}).code, 0);
  char previous[PATH_MAX];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  const std::string file = testing_support::WriteTempFile("not a registry file\n", "m2.reg");
  ASSERT_EQ(::chdir(file.substr(0, file.rfind('/')).c_str()), 0);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"import", "m2.reg"}, "ERROR: The file m2.reg is not a registry file"},
      {{"add", "HKCU\\software\\casekey", "/v", "X", "/d", "2"},
       "The value X exists in HKEY_CURRENT_USER\\software\\casekey;"},
      {{"delete", "HKCU\\software\\MISSING", "/f"},
       "The registry key HKEY_CURRENT_USER\\software\\MISSING does not exist."},
  };
  for (const auto& c : cases) {
    RegstoreResult result = Regstore(c.args);
    EXPECT_EQ(result.code, 1) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
  ASSERT_EQ(::chdir(previous), 0);
}

}  // namespace
}  // namespace regstore_tool
