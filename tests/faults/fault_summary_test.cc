// Faults of every kind against the Linux programs, counted together in one
// summary line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/run_outcome.h"
#include "fault_tallies.h"
#include "import/text_reader.h"
#include "platform/registry.h"
#include "testing/posix/fault_fixture.h"
#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace {

namespace fs = std::filesystem;
using testing_support::BuiltProgram;
using testing_support::ClearFailure;
using testing_support::EnvCount;
using testing_support::ImportFaultTest;
using testing_support::kOtherUser;
using testing_support::kOwner;
using testing_support::LostValues;
using testing_support::MakeWorkload;
using testing_support::MountSmallPrivateDisk;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::ReadStoreContent;
using testing_support::ReportedFailure;
using testing_support::RunningProgram;
using testing_support::RunProgram;
using testing_support::SharedFolder;
using testing_support::StopAfterKeys;
using testing_support::StoreContent;
using testing_support::StoredValue;
using testing_support::StoreIntegrity;
using testing_support::StoreLock;
using testing_support::ValueCount;
using testing_support::WholeKeys;
using testing_support::Workload;

// Faults of every kind, counted together: the program killed at random
// points of imports and of the making of a new store, a full disk, a writer
// that holds the store, a read-only store, a store replaced under a running
// import, and another user's run; then every regstore write command under
// every fault, and power cuts during imports and during the upgrade of a
// store made by the 1.0 programs (fault_tallies.h). Prints one
// line: the faults injected, the runs that ended with a clear failure, the
// values lost (committed values that went, values of an import that had ended
// with success that a power cut took, or keys left without the values the
// import went past), the runs that reported success after a loss (an import
// that ended, or was cut off, with "Loading" gone although it had not written
// the whole file; a regstore command that reported a change the store lacks)
// and the stores left unsound or with half of a command's change.
// BREVLIN_FAULT_KILLS sets the number of kills during imports (a quarter as
// many more are made during store creation), BREVLIN_POWER_CUTS the number
// of power cuts during imports, BREVLIN_MIGRATION_CUTS that during upgrades.
TEST_F(ImportFaultTest, FaultInjectionSummary) {
  const int kills = EnvCount("BREVLIN_FAULT_KILLS", 160);
  const int creation_kills = std::max(kills / 4, 40);
  int faults = 0;
  int clear_failures = 0;
  int expected_failures = 0;
  int values_lost = 0;
  int false_successes = 0;
  std::mt19937 random(4711);

  // An import that is cut off, or that the store stops, must leave "Loading"
  // at 0; one that ends on its own with success must have written everything.
  auto judge = [&](const StoreContent& after, const Workload& w, bool ended_on_its_own,
                   const ProgramRun& run) {
    std::string problem;
    const int whole = WholeKeys(after, w, &problem);
    if (whole < 0) {
      ++values_lost;
      ADD_FAILURE() << problem;
      return;
    }
    const bool complete = whole == static_cast<int>(w.keys.size());
    const long long loading = testing_support::LoadingValue(after);
    const bool started = after.count("HKEY_CURRENT_USER\\" + w.tree) != 0;
    bool false_success = !complete && started && loading != 0;
    if (ended_on_its_own && !complete && !ReportedFailure(run))
      false_success = true;
    if (false_success) {
      ++false_successes;
      ADD_FAILURE() << "success after a loss: " << whole << " keys whole, Loading " << loading
                    << "\n"
                    << run.error_output;
    }
  };

  // A store to start from, copied for each run.
  const std::string base = NewStore();
  const Workload base_load = MakeWorkload("Base", 20, 5);
  ExpectComplete(RunProgram(program_, Import(WriteConfig("base.cfg", base_load.text), base)), base,
                 base_load);
  const StoreContent base_content = Content(base);
  auto fresh_copy = [&]() {
    const std::string store = NewStore();
    fs::copy_file(base, store);
    return store;
  };

  // Kills during imports.
  const Workload w = MakeWorkload("Kill", 300, 10);
  const std::string config = WriteConfig("kill.cfg", w.text);
  const double length = ShortestCompleteRun(2, config, w, fresh_copy);
  std::uniform_real_distribution<double> fraction(0.0, 1.1);
  for (int i = 0; i < kills; ++i) {
    const std::string store = fresh_copy();
    RunningProgram running(program_, Import(config, store));
    std::this_thread::sleep_for(std::chrono::duration<double>(length * fraction(random)));
    const ProgramRun run = running.Kill();
    ++faults;
    if (StoreIntegrity(store) != "ok") {
      values_lost += ValueCount(base_content);
      ADD_FAILURE() << "kill " << i << " left a store that is not sound";
      continue;
    }
    const StoreContent after = Content(store);
    values_lost += LostValues(base_content, after);
    judge(after, w, run.signal == 0, run);
  }

  // Kills while a new store is made: the store is then absent or whole, and
  // the next import into it works.
  const Workload small = MakeWorkload("New", 2, 3);
  const std::string small_config = WriteConfig("new.cfg", small.text);
  const double creation =
      ShortestCompleteRun(2, small_config, small, [this] { return NewStore(); });
  for (int i = 0; i < creation_kills; ++i) {
    const std::string store = NewStore();
    RunningProgram running(program_, Import(small_config, store));
    std::this_thread::sleep_for(std::chrono::duration<double>(creation * fraction(random)));
    const ProgramRun run = running.Kill();
    ++faults;
    if (fs::exists(store)) {
      if (StoreIntegrity(store) != "ok") {
        ++values_lost;
        ADD_FAILURE() << "a kill during creation left a store that is not sound";
        continue;
      }
      judge(Content(store), small, run.signal == 0, run);
    }
    const ProgramRun again = RunProgram(program_, Import(small_config, store));
    if (again.exit_code != 0 || !again.error_output.empty()) {
      ++values_lost;
      ADD_FAILURE() << "the store a kill during creation left cannot be used:\n"
                    << again.error_output;
    }
  }

  // The store's own failures; each must end in a clear failure.
  auto expect_failure = [&](const ProgramRun& run, const char* what) {
    ++faults;
    ++expected_failures;
    if (ClearFailure(run)) {
      ++clear_failures;
    } else {
      ADD_FAILURE() << what << " did not end in a clear failure:\n" << run.error_output;
    }
  };
  const Workload big = MakeWorkload("Fault", 3000, 10);
  const std::string big_config = WriteConfig("fault.cfg", big.text);

  // Grouped commits keep the store small: the full disk needs a file whose
  // values are more than the file system holds.
  const Workload full_load = MakeWorkload("Full", 12000, 10);
  const std::string full_config = WriteConfig("full.cfg", full_load.text);
  // A full disk: a file system of 4 MB of its own where the machine allows a
  // private mount, else a limit on the size of the files the program writes.
  std::string full_disk = "a file size limit";
  {
    const std::string mount_point = testing_support::NewTempDir();
    const std::string copy = testing_support::NewTempDir();
    const std::string report = testing_support::JoinPath(copy, "run");
    pid_t child = ::fork();
    if (child == 0) {
      if (!MountSmallPrivateDisk(mount_point))
        ::_exit(77);
      const std::string store = mount_point + "/registry.db";
      fs::copy_file(base, store);
      const ProgramRun run = RunProgram(program_, Import(full_config, store));
      std::ofstream out(report);
      out << run.exit_code << " " << run.signal << "\n" << run.error_output;
      out.close();
      std::error_code ignored;
      for (const char* suffix : {"", "-wal"})
        fs::copy_file(store + suffix, copy + "/registry.db" + suffix, ignored);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ProgramRun run;
    std::string store;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      full_disk = "a 4 MB file system";
      std::istringstream lines(testing_support::ReadWholeFile(report));
      lines >> run.exit_code >> run.signal;
      lines.ignore(1);
      run.error_output.assign(std::istreambuf_iterator<char>(lines), {});
      store = copy + "/registry.db";
    } else {
      store = fresh_copy();
      ProgramOptions options = Import(full_config, store);
      options.file_size_limit = static_cast<long long>(fs::file_size(store)) + 512 * 1024;
      run = RunProgram(program_, options);
    }
    expect_failure(run, "a full disk");
    const StoreContent after = Content(store);
    values_lost += LostValues(base_content, after);
    judge(after, full_load, true, run);
  }

  // A writer that holds the store from the middle of an import on.
  {
    const std::string store = fresh_copy();
    RunningProgram running(program_, Import(WriteConfigWithPause("paused.cfg", big, 15), store));
    StoreLock lock(store);
    ASSERT_TRUE(StopAfterKeys(&running, store, big, 10, [&] { return lock.TryTake(); }));
    running.Continue();
    const ProgramRun run = running.Wait();
    lock.Release();
    expect_failure(run, "a stalled writer");
    const StoreContent after = Content(store);
    values_lost += LostValues(base_content, after);
    judge(after, big, true, run);
  }

  // A read-only store: refused, and nothing in it changes.
  {
    const std::string store = fresh_copy();
    ASSERT_EQ(::chmod(store.c_str(), 0444), 0);
    const ProgramRun run = RunProgram(program_, Import(big_config, store));
    expect_failure(run, "a read-only store");
    values_lost += LostValues(base_content, Content(store));
  }

  // The store replaced under a running import: the file now at the path is
  // not written.
  {
    const std::string other = fresh_copy();
    const std::string store = fresh_copy();
    RunningProgram running(program_, Import(WriteConfigWithPause("replaced.cfg", big, 15), store));
    ASSERT_TRUE(StopAfterKeys(&running, store, big, 10, [&] {
      const std::string moved = store + ".copy";
      fs::copy_file(other, moved);
      return ::rename(moved.c_str(), store.c_str()) == 0;
    }));
    running.Continue();
    const ProgramRun run = running.Wait();
    expect_failure(run, "a store replaced mid-run");
    const StoreContent after = Content(store);
    values_lost += LostValues(base_content, after);
    if (!(after == base_content)) {
      ++values_lost;
      ADD_FAILURE() << "the store put at the path was written";
    }
  }

  // Another user's run on a store in a folder that everybody may write to:
  // refused, and the owner's next import works.
  {
    SharedFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string store = folder.path() + "/registry.db";
    fs::copy_file(base, store);
    ASSERT_EQ(::chown(store.c_str(), kOwner, kOwner), 0);
    ProgramOptions other = Import(folder.Write("other.cfg", small.text), store);
    other.user = kOtherUser;
    expect_failure(RunProgram(program_, other), "another user's import");
    ProgramOptions owner = other;
    owner.user = kOwner;
    const ProgramRun run = RunProgram(program_, owner);
    const StoreContent after = Content(store);
    values_lost += LostValues(base_content, after);
    judge(after, small, true, run);
    if (run.exit_code != 0) {
      ++values_lost;
      ADD_FAILURE() << "the owner's import failed after another user's run:\n" << run.error_output;
    }
  }

  EXPECT_EQ(clear_failures, expected_failures);

  // regstore's write commands under every fault, and power cuts during
  // imports.
  const fault_tests::FaultTally regstore = fault_tests::RunRegstoreFaults(dir_);
  const int power_cuts = EnvCount("BREVLIN_POWER_CUTS", 120);
  const fault_tests::FaultTally cuts = fault_tests::RunPowerCuts(dir_, power_cuts);
  const int migration_cuts = EnvCount("BREVLIN_MIGRATION_CUTS", 60);
  const fault_tests::FaultTally upgrade = fault_tests::RunMigrationCuts(migration_cuts);
  faults += regstore.faults + cuts.faults + upgrade.faults;
  clear_failures += regstore.clear_failures;
  false_successes += regstore.false_successes;
  values_lost += cuts.lost_changes + upgrade.lost_changes;
  const int broken_stores = regstore.broken_stores + cuts.broken_stores + upgrade.broken_stores;

  std::printf(
      "fault injection: %d faults injected (%d kills during imports, %d during store creation, a "
      "full disk by %s, a stalled writer, a read-only store, a replaced store, another user, %d "
      "runs of regstore's write commands under faults, %d power cuts during imports, %d during the "
      "upgrade of a 1.0 store), %d runs ended with a clear "
      "failure, %d values lost, %d runs reported success after a loss, %d stores left unsound or "
      "half changed\n",
      faults, kills, creation_kills, full_disk.c_str(), regstore.faults, power_cuts, migration_cuts,
      clear_failures, values_lost, false_successes, broken_stores);
  EXPECT_EQ(values_lost, 0);
  EXPECT_EQ(false_successes, 0);
  EXPECT_EQ(broken_stores, 0);
}

}  // namespace
