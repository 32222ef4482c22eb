// What an import notes of its run, and the line its messages concern.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/run_outcome.h"
#include "import/imp_exp_reg.h"
#include "platform/ui.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

class ImportOutcomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheRunOutcome().Clear();
    plat::SetMessageLocation(std::string(), 0);
    plat::SetMessageRecorder([this](const plat::ShownMessage& m) {
      messages_.push_back(m.text);
      locations_.push_back(plat::MessageLocationPrefix());
    });
  }
  void TearDown() override {
    plat::SetMessageRecorder(nullptr);
    plat::SetMessageLocation(std::string(), 0);
    TheRunOutcome().Clear();
  }

  // Imports `contents` with HKEY_CURRENT_USER allowed only; answers what
  // the import answered, or false when it raised ERegistryException.
  bool Import(const std::string& contents) {
    file_ = testing_support::WriteTempFile(contents);
    try {
      return ImportConfigFile(plat::kHkeyCurrentUser, file_, "Brevlin", false,
                              ImportScope::kCurrentUser);
    } catch (const ERegistryException& e) {
      raised_ = e.Message();
      return false;
    }
  }

  std::string At(int line) const {
    return plat::MessageFileName(file_) + ":" + std::to_string(line) + ": ";
  }

  // A store of the test's own, never the user's.
  testing_support::ScopedTestRegistry registry_;
  std::string file_;
  std::string raised_;
  std::vector<std::string> messages_;
  std::vector<std::string> locations_;
};

TEST_F(ImportOutcomeTest, ACompleteImportNotesNothing) {
  EXPECT_TRUE(Import("<[Brevlin]>\n[Software\\Mardovan\\OutcomeA]\nstring\tA\tx\n"));
  EXPECT_EQ(ExitStatusOf(TheRunOutcome()), kExitSuccess);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ImportOutcomeTest, LinesThatWriteNothingAreNotedAsSkipped) {
  struct Case {
    std::string contents;
    std::size_t skipped;
  };
  const Case cases[] = {
      {"[Software\\Mardovan\\OutcomeB]\nstrng\tA\tx\n", 1},
      {"[Software\\Mardovan\\OutcomeB]\n string\tA\tx\n", 1},
      {"[Software\\Mardovan\\OutcomeB]\nno tab at all\n", 1},
      // HKEY_LOCAL_MACHINE is out of this import's scope: its key and value
      // lines are skipped, and writing goes on below the next root.
      {"<HKEY_LOCAL_MACHINE>\n[Software\\X]\nstring\tA\tx\n<HKEY_CURRENT_USER>\n"
       "[Software\\Mardovan\\OutcomeB]\nstring\tB\ty\n",
       2},
  };
  for (const Case& c : cases) {
    TheRunOutcome().Clear();
    EXPECT_TRUE(Import(c.contents)) << c.contents;
    EXPECT_EQ(TheRunOutcome().Count(RunEvent::kLineSkipped), c.skipped) << c.contents;
    EXPECT_EQ(ExitStatusOf(TheRunOutcome()), kExitNotAllWritten) << c.contents;
  }
}

TEST_F(ImportOutcomeTest, AnotherProductsFileNamesItsLine) {
  EXPECT_FALSE(Import("<<comment\n[Software\\Mardovan\\OutcomeC]\n<[Other]>\nstring\tA\tx\n"));
  EXPECT_TRUE(TheRunOutcome().Has(RunEvent::kWrongProduct));
  ASSERT_EQ(messages_.size(), 1u);
  // The text is the box's own; the location comes beside it.
  EXPECT_EQ(messages_[0].find(plat::MessageFileName(file_)), std::string::npos);
  EXPECT_EQ(locations_[0], At(3));
}

TEST_F(ImportOutcomeTest, AFailedWriteLeavesTheLocationOfItsLineForTheErrorBox) {
  // A key's value lines are written when its section ends: the location is
  // still that of the value line, not of the line that ended the section.
  const char* const cases[] = {
      "<[Brevlin]>\n\nstring\tEarly\tx\n",
      "<[Brevlin]>\n\nstring\tEarly\tx\n<<comment\n\n[Software\\Mardovan\\OutcomeD]\n",
      "<[Brevlin]>\n\nstring\tEarly\tx\nstring\tLater\ty\n<HKEY_CURRENT_USER>\n",
  };
  for (const char* contents : cases) {
    raised_.clear();
    TheRunOutcome().Clear();
    plat::SetMessageLocation(std::string(), 0);
    EXPECT_FALSE(Import(contents));
    EXPECT_EQ(raised_, "Failed to set data for 'Early'") << contents;
    EXPECT_TRUE(TheRunOutcome().Has(RunEvent::kWriteFailed)) << contents;
    EXPECT_EQ(plat::MessageLocationPrefix(), At(3)) << contents;
  }
}

TEST_F(ImportOutcomeTest, AFileThatCannotBeOpenedConcernsTheWholeFile) {
  const std::string missing =
      testing_support::JoinPath(testing_support::NewTempDir(), "missing.cfg");
  EXPECT_FALSE(
      ImportConfigFile(plat::kHkeyCurrentUser, missing, "Brevlin", false, ImportScope::kBoth));
  EXPECT_TRUE(TheRunOutcome().Has(RunEvent::kFileUnreadable));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(locations_[0], plat::MessageFileName(missing) + ": ");
  const std::string filename_line = "\r\n\r\nFilename: " + plat::MessageFileName(missing);
  EXPECT_EQ(messages_[0].substr(messages_[0].size() - filename_line.size()), filename_line);
}

}  // namespace
