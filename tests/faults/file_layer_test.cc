// The test file layer itself, under dd: it fails the write or sync it is told
// to, and a power cut keeps what was synced and undoes, of what was not,
// whole sectors or nothing, in the share the seed sets.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "testing/posix/fault_fixture.h"
#include "testing/posix/file_layer.h"
#include "testing/posix/power_cut.h"
#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace {

using testing_support::FileLayerEnvironment;
using testing_support::FileLayerSetup;
using testing_support::JoinPath;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::ReadWholeFile;
using testing_support::WriteFile;

class FileLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::FileLayerBuilt())
      GTEST_SKIP() << "the test file layer has not been built";
    dir_ = testing_support::NewTempDir();
    target_ = JoinPath(dir_, "store.db");
    journal_ = JoinPath(dir_, "journal");
    report_ = JoinPath(dir_, "report");
  }

  // Copies `bytes` over the target from `offset` with dd, 512 bytes a write,
  // under the layer; `sync` makes dd sync the target before it ends.
  ProgramRun Write(const std::string& bytes, long offset, bool sync, const FileLayerSetup& layer) {
    const std::string source = JoinPath(dir_, "source");
    WriteFile(source, bytes);
    ProgramOptions options;
    options.arguments = {"if=" + source,
                         "of=" + target_,
                         "bs=512",
                         "seek=" + std::to_string(offset / 512),
                         "conv=notrunc" + std::string(sync ? ",fsync" : ""),
                         "status=none"};
    FileLayerSetup setup = layer;
    setup.store = target_;
    setup.report = report_;
    options.environment = FileLayerEnvironment(setup);
    return testing_support::RunProgram("/usr/bin/dd", options);
  }

  FileLayerSetup Journal(long cut_at = 0, std::uint64_t seed = 0) {
    FileLayerSetup setup;
    setup.journal = journal_;
    setup.cut_at = cut_at;
    setup.seed = seed;
    return setup;
  }

  std::string dir_;
  std::string target_;
  std::string journal_;
  std::string report_;
};

const std::string kOld(2048, 'a');
const std::string kNew(2048, 'b');

TEST_F(FileLayerTest, FailsTheChosenWriteOrSync) {
  struct Case {
    const char* name;
    long fail_write;
    long fail_sync;
    bool persist;
    std::string left;  // what the target holds after the run
  };
  const Case cases[] = {
      {"the third write", 3, 0, false, std::string(1024, 'b') + std::string(1024, 'a')},
      {"the first write", 1, 0, false, kOld},
      {"the sync", 0, 1, false, kNew},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(target_, kOld);
    FileLayerSetup setup;
    setup.fail_write = c.fail_write;
    setup.fail_sync = c.fail_sync;
    const ProgramRun run = Write(kNew, 0, true, setup);
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.error_output.find("Input/output error"), std::string::npos) << run.error_output;
    EXPECT_EQ(ReadWholeFile(target_), c.left);
    const auto report = testing_support::ReadFileLayerReport(report_);
    ASSERT_TRUE(report.read);
    EXPECT_EQ(report.writes, c.fail_write ? c.fail_write : 4);
    EXPECT_FALSE(report.cut);
  }
  // Files that are not the store's pass untouched.
  FileLayerSetup other;
  other.fail_write = 1;
  WriteFile(target_, kOld);
  ProgramOptions options;
  options.arguments = {"if=" + target_, "of=" + JoinPath(dir_, "copy"), "status=none"};
  other.store = JoinPath(dir_, "elsewhere.db");
  options.environment = FileLayerEnvironment(other);
  EXPECT_EQ(testing_support::RunProgram("/usr/bin/dd", options).exit_code, 0);
  EXPECT_EQ(ReadWholeFile(JoinPath(dir_, "copy")), kOld);
}

// The share of undone changes is the seed's remainder by five, in quarters.
TEST_F(FileLayerTest, PowerCutKeepsWhatWasSyncedAndUndoesWholeSectors) {
  for (std::uint64_t seed : {0, 4, 2, 7, 12}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ::unlink(journal_.c_str());
    WriteFile(target_, kOld);
    // Synced by the first run, then overwritten in part and grown by two
    // runs that do not sync.
    const std::string synced = std::string(1024, 's') + std::string(1024, 'a');
    ASSERT_EQ(Write(std::string(1024, 's'), 0, true, Journal()).exit_code, 0);
    ASSERT_EQ(Write(kNew, 1024, false, Journal()).exit_code, 0);
    ASSERT_EQ(Write(std::string(1024, 'c'), 512, false, Journal()).exit_code, 0);
    const std::string written = ReadWholeFile(target_);
    ASSERT_EQ(written, std::string(512, 's') + std::string(1024, 'c') + std::string(1536, 'b'));
    ASSERT_GE(testing_support::CutPower(journal_.c_str(), seed), 0);
    const std::string after = ReadWholeFile(target_);
    if (seed % 5 == 0) {
      EXPECT_EQ(after, written);
    } else if (seed % 5 == 4) {
      EXPECT_EQ(after, synced);
    } else {
      // Each sector as one of the runs left it, the synced first sector kept.
      ASSERT_TRUE(after.size() == synced.size() || after.size() == written.size());
      ASSERT_EQ(after.substr(0, 512), std::string(512, 's'));
      for (std::size_t s = 512; s < after.size(); s += 512) {
        const std::string sector = after.substr(s, 512);
        EXPECT_TRUE(sector == std::string(512, sector[0]) &&
                    std::string("asbc\0", 5).find(sector[0]) != std::string::npos)
            << "sector " << s / 512 << " torn";
      }
    }
  }
}

// A cut in the middle of a run: the program dies at once, by SIGKILL, with
// what it had not synced undone.
TEST_F(FileLayerTest, CutKillsTheProgramAtTheChosenChange) {
  WriteFile(target_, kOld);
  const ProgramRun run = Write(kNew, 0, true, Journal(3, 4));
  EXPECT_EQ(run.signal, SIGKILL);
  const auto report = testing_support::ReadFileLayerReport(report_);
  EXPECT_TRUE(report.read && report.cut);
  EXPECT_EQ(report.changes, 3);
  EXPECT_EQ(ReadWholeFile(target_), kOld);
}

}  // namespace
