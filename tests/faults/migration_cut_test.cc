// Power cuts during the upgrade of a store made by the 1.0 programs: a copy
// of the fixture is opened for writing by regstore add under the test file
// layer, which cuts the power at a random change of the upgrade or of the
// write after it. Afterwards the store must be the old one, row for row and
// still sound to the checker, or an upgraded one; the next write must then
// leave a sound store of the current version holding exactly what an
// upgrade and the same write without a cut leave: every key and value, their
// letter case, protection and locks.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fault_tallies.h"
#include "regstore/schema.h"
#include "regstore/store_check.h"
#include "testing/posix/fault_fixture.h"
#include "testing/posix/file_layer.h"
#include "testing/posix/power_cut.h"
#include "testing/posix/program_runner.h"
#include "testing/posix/store_rows.h"
#include "testing/temp_files.h"

namespace fault_tests {

namespace fs = std::filesystem;
using testing_support::BuiltProgram;
using testing_support::FileLayerSetup;
using testing_support::JoinPath;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;

namespace {

const char kFixture[] = BREVLIN_SOURCE_DIR "/src/regstore/testdata/store-1.0.db";

class MigrationCuts {
 public:
  FaultTally Run(int cuts);

 private:
  // A copy of the fixture as the only file of a new folder.
  static std::string CopyOfFixture() {
    const std::string store = JoinPath(testing_support::NewTempDir(), "registry.db");
    fs::copy_file(kFixture, store);
    return store;
  }
  static ProgramRun Write(const std::string& store, const std::vector<std::string>& environment) {
    ProgramOptions options;
    options.arguments = {"add", "HKCU\\Software\\Cut\\After", "/v", "V", "/d", "x", "/f"};
    options.store = store;
    options.environment = environment;
    return testing_support::RunProgram(BuiltProgram("regstore"), options);
  }
  // Whether the checker finds the store sound; `report` gets its answer.
  bool Sound(const std::string& store, regstore::StoreCheckReport* report, std::string* why) {
    std::string detail;
    if (!regstore::CheckStoreFile(store, report, &detail)) {
      *why = "the checker cannot read it: " + detail;
      return false;
    }
    if (!report->sound()) {
      *why = testing_support::StoreCheckProblems(store);
      return false;
    }
    return true;
  }
  void CutOnce(int index, long point, std::uint64_t seed);

  std::vector<std::string> old_rows_;  // the fixture's
  std::vector<std::string> new_rows_;  // after the upgrade and the write
  int old_after_cut_ = 0;
  int new_after_cut_ = 0;
  FaultTally tally_;
};

void MigrationCuts::CutOnce(int index, long point, std::uint64_t seed) {
  const std::string store = CopyOfFixture();
  FileLayerSetup layer;
  layer.store = store;
  layer.journal = store + ".journal";
  layer.report = store + ".report";
  layer.seed = seed;
  layer.cut_at = point;
  const std::string where = "migration cut " + std::to_string(index) + " (seed " +
                            std::to_string(seed) + ", change " + std::to_string(point) + ")";
  const ProgramRun run = Write(store, testing_support::FileLayerEnvironment(layer));
  const auto report = testing_support::ReadFileLayerReport(layer.report);
  if (report.cut) {
    if (run.signal != SIGKILL)
      ADD_FAILURE() << where << ": the cut did not end the program";
  } else {
    if (run.exit_code != 0) {
      ADD_FAILURE() << where << ": the write failed before the cut:\n" << run.error_output;
      return;
    }
    testing_support::CutPower(layer.journal.c_str(), seed);
  }
  ++tally_.faults;
  // The machine starts again: the shared memory beside the store is gone.
  std::error_code ignored;
  fs::remove(store + "-shm", ignored);

  if (!fs::exists(store) || fs::file_size(store) == 0) {
    ++tally_.lost_changes;
    ADD_FAILURE() << where << ": the store is gone";
    return;
  }
  regstore::StoreCheckReport check;
  std::string why;
  if (!Sound(store, &check, &why)) {
    ++tally_.broken_stores;
    ADD_FAILURE() << where << ": the store is not sound after the cut: " << why;
    return;
  }
  if (check.older_version) {
    ++old_after_cut_;
    if (testing_support::StoreRows(store, true) != old_rows_) {
      ++tally_.lost_changes;
      ADD_FAILURE() << where << ": the store is of the old version but not the fixture's";
    }
  } else {
    ++new_after_cut_;
    if (check.version != regstore::kStoreVersion) {
      ++tally_.broken_stores;
      ADD_FAILURE() << where << ": the store has version " << check.version;
    }
  }

  const ProgramRun after = Write(store, {});
  if (after.exit_code != 0) {
    ++tally_.broken_stores;
    ADD_FAILURE() << where << ": the store takes no change after the cut:\n" << after.error_output;
    return;
  }
  if (!Sound(store, &check, &why) || check.older_version ||
      check.version != regstore::kStoreVersion) {
    ++tally_.broken_stores;
    ADD_FAILURE() << where
                  << ": the store is not a sound current one after the next write: " << why;
    return;
  }
  if (testing_support::StoreRows(store, false) != new_rows_) {
    ++tally_.lost_changes;
    ADD_FAILURE() << where << ": the store's keys and values differ from an upgrade without a cut";
  }
}

FaultTally MigrationCuts::Run(int cuts) {
  if (!testing_support::FileLayerBuilt()) {
    ADD_FAILURE() << "the test file layer has not been built";
    return tally_;
  }
  old_rows_ = testing_support::StoreRows(kFixture, true);
  EXPECT_GT(old_rows_.size(), 20u);
  // The upgrade and the write without a cut: what they leave, and how many
  // changes they make.
  const std::string store = CopyOfFixture();
  FileLayerSetup layer;
  layer.store = store;
  layer.report = store + ".report";
  const ProgramRun run = Write(store, testing_support::FileLayerEnvironment(layer));
  EXPECT_EQ(run.exit_code, 0) << run.error_output;
  const long changes = testing_support::ReadFileLayerReport(layer.report).changes;
  EXPECT_GT(changes, 0);
  new_rows_ = testing_support::StoreRows(store, false);
  EXPECT_EQ(new_rows_.size(), old_rows_.size() + 2) << "the write adds a key and a value";

  std::mt19937_64 random(20261210);
  for (int i = 0; i < cuts; ++i) {
    const long point = std::uniform_int_distribution<long>(1, changes + changes / 20 + 1)(random);
    CutOnce(i, point, random());
  }
  std::printf(
      "migration power cuts: %d cuts at random points of %ld changes (%d left the 1.0 store, %d "
      "the upgraded one), %d stores unsound, %d stores not as an upgrade without a cut leaves it\n",
      cuts, changes, old_after_cut_, new_after_cut_, tally_.broken_stores, tally_.lost_changes);
  return tally_;
}

}  // namespace

FaultTally RunMigrationCuts(int cuts) {
  MigrationCuts migration_cuts;
  return migration_cuts.Run(cuts);
}

namespace {

// BREVLIN_MIGRATION_CUTS sets the number of cuts.
TEST(PowerCutTest, UpgradeOfA10StoreSurvivesCutsAtRandomPoints) {
  const FaultTally tally =
      RunMigrationCuts(testing_support::EnvCount("BREVLIN_MIGRATION_CUTS", 60));
  EXPECT_EQ(tally.broken_stores, 0);
  EXPECT_EQ(tally.lost_changes, 0);
}

}  // namespace

}  // namespace fault_tests
