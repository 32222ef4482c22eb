// The Linux program under faults, run as a user runs it: killed at many
// points of a large import, several imports into one store at once, a store
// that is read-only, cannot be created, fills its disk or is damaged, and a
// configuration file that changes while it is read. Each test looks at what
// is left in the store afterwards.
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
#include "import/text_reader.h"
#include "platform/registry.h"
#include "testing/posix/fault_fixture.h"
#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace {

namespace fs = std::filesystem;
using testing_support::BuiltProgram;
using testing_support::EnvCount;
using testing_support::ImportFaultTest;
using testing_support::MakeWorkload;
using testing_support::MountSmallPrivateDisk;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::ReadStoreContent;
using testing_support::RunningProgram;
using testing_support::RunProgram;
using testing_support::StoreContent;
using testing_support::StoredValue;
using testing_support::StoreIntegrity;
using testing_support::WholeKeys;
using testing_support::Workload;
using testing_support::WriteFile;

// and the program is killed. The store must open, be sound, still hold all of
// that state, hold a beginning of the import with every key whole that the
// import had left, and tell by "Loading" whether the import completed.
// BREVLIN_FAULT_KILLS sets the number of kills; BREVLIN_FAULT_VERBOSE shows
// each one.
TEST_F(ImportFaultTest, KilledAtManyPointsOfALargeImport) {
  const int kills = EnvCount("BREVLIN_FAULT_KILLS", 30);
  // Large enough that the import, which commits in groups, lasts well beyond
  // the program's start-up, and a kill lands in its middle most of the time.
  const Workload w = MakeWorkload("Kill", 4000, 10);
  const std::string config = WriteConfig("kill.cfg", w.text);

  // Complete runs first, for the length of the shortest.
  const double length = ShortestCompleteRun(3, config, w, [this] { return NewStore(); });

  std::mt19937 random(20260);
  std::uniform_real_distribution<double> jitter(0.0, 1.0);
  int mid_import = 0;
  int unread_snapshots = 0;
  for (int i = 0; i < kills; ++i) {
    SCOPED_TRACE("kill " + std::to_string(i));
    const std::string store = NewStore();
    RunningProgram running(program_, Import(config, store));
    ASSERT_TRUE(running.Started());
    const double delay = length * 1.1 * (i + jitter(random)) / kills;
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));

    StoreContent before;
    bool have_before = false;
    if (running.Stop()) {
      std::string error;
      have_before = ReadStoreContent(store, &before, &error);
      if (!have_before) {
        ++unread_snapshots;  // stopped where no reader may look in
        if (std::getenv("BREVLIN_FAULT_VERBOSE"))
          std::printf("not readable: %s\n", error.c_str());
      }
    }
    ProgramRun run = running.Kill();
    const bool killed = run.signal == SIGKILL;
    if (!killed) {
      EXPECT_EQ(run.exit_code, 0) << run.error_output;
    }

    if (!fs::exists(store))
      continue;  // killed before it made the store
    ASSERT_EQ(StoreIntegrity(store), "ok");
    ProgramOptions export_all;
    export_all.arguments = {"export", "HKEY_CURRENT_USER", dir_ + "/export.reg", "/y"};
    export_all.store = store;
    ProgramRun opened = RunProgram(BuiltProgram("regstore"), export_all);
    EXPECT_EQ(opened.exit_code, 0) << opened.error_output;
    StoreContent after = Content(store);
    if (have_before) {
      // A commit whose log frames were written but not yet published when
      // the program stopped shows only afterwards; nothing may go.
      for (const auto& key : before) {
        ASSERT_TRUE(after.count(key.first)) << key.first << " was lost";
        for (const auto& value : key.second) {
          ASSERT_TRUE(after.at(key.first).count(value.first) &&
                      after.at(key.first).at(value.first) == value.second)
              << key.first << " " << value.first << " was lost";
        }
      }
    }

    std::string problem;
    const int whole = WholeKeys(after, w, &problem);
    ASSERT_GE(whole, 0) << problem;
    const bool complete = whole == static_cast<int>(w.keys.size());
    const bool started = after.count("HKEY_CURRENT_USER\\" + w.tree) != 0;
    const long long loading = testing_support::LoadingValue(after);
    if (complete) {
      // 1 only for the moment between its write and its removal.
      EXPECT_TRUE(loading == -1 || loading == 0 || loading == 1) << loading;
    } else if (started) {
      EXPECT_EQ(loading, 0) << "an incomplete import must leave Loading at 0";
    } else {
      EXPECT_TRUE(loading == -1 || loading == 0) << loading;
    }
    if (!killed) {
      EXPECT_TRUE(complete && loading == -1);
    }
    if (std::getenv("BREVLIN_FAULT_VERBOSE")) {
      std::printf("delay %.3f s: %s, %d keys whole, Loading %lld\n", delay,
                  killed ? "killed" : "ended", whole, loading);
    }
    if (killed && !complete)
      ++mid_import;
  }
  std::printf(
      "%d kills, %d of them in the middle of the import, %d states not readable while"
      " stopped; a complete import took %.2f s\n",
      kills, mid_import, unread_snapshots, length);
  // That the kills reach the middle of the import at all; how many do
  // depends on the machine's load, which other tests share.
  EXPECT_GE(mid_import, kills / 3);
}

// Different files into one store at the same time: every value of every file
// arrives, and each program ends normally without a message.
TEST_F(ImportFaultTest, SeveralImportsIntoOneStoreAtOnce) {
  int runs = 0;
  for (int count : {2, 4}) {
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(std::to_string(count) + " at once, round " + std::to_string(round));
      const std::string store = NewStore();
      std::vector<Workload> loads;
      const auto programs = StartTogether("Together", count, 400, 10, store, &loads);
      for (int j = 0; j < count; ++j) {
        ProgramRun run = programs[j]->Wait();
        EXPECT_EQ(run.exit_code, 0) << run.error_output;
        EXPECT_EQ(run.error_output, "");
        ++runs;
      }
      EXPECT_EQ(StoreIntegrity(store), "ok");
      StoreContent content = Content(store);
      for (const Workload& w : loads) {
        std::string problem;
        EXPECT_EQ(WholeKeys(content, w, &problem), static_cast<int>(w.keys.size())) << problem;
      }
      EXPECT_EQ(testing_support::LoadingValue(content), -1);
    }
  }
  std::printf("%d imports, two and four at a time\n", runs);
}

// Programs that meet at a store that does not exist yet: one of them makes
// it, the others wait for it; none may fail because another is setting it up.
TEST_F(ImportFaultTest, ManyProgramsMakeANewStoreAtOnce) {
  constexpr int kPrograms = 8;
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string store = NewStore();
    std::vector<Workload> loads;
    const auto programs = StartTogether("First", kPrograms, 1, 2, store, &loads);
    for (int j = 0; j < kPrograms; ++j) {
      ProgramRun run = programs[j]->Wait();
      EXPECT_EQ(run.exit_code, 0);
      EXPECT_EQ(run.error_output, "");
    }
    StoreContent content = Content(store);
    for (const Workload& w : loads) {
      std::string problem;
      EXPECT_EQ(WholeKeys(content, w, &problem), 1) << problem;
    }
  }
}

// A store that cannot be written: a clear message, no crash, the store as it
// was, and the exit status that says so.
TEST_F(ImportFaultTest, ReadOnlyStore) {
  const std::string store = NewStore();
  const Workload first = MakeWorkload("First", 20, 3);
  ExpectComplete(RunProgram(program_, Import(WriteConfig("first.cfg", first.text), store)), store,
                 first);
  ASSERT_EQ(::chmod(store.c_str(), 0444), 0);
  const std::string bytes = testing_support::ReadWholeFile(store);

  const Workload second = MakeWorkload("Second", 20, 3);
  ProgramRun run = RunProgram(program_, Import(WriteConfig("second.cfg", second.text), store));
  EXPECT_EQ(run.exit_code, kExitStoreUnavailable);
  EXPECT_NE(run.error_output.find("is read-only"), std::string::npos) << run.error_output;
  EXPECT_EQ(testing_support::ReadWholeFile(store), bytes);
  EXPECT_FALSE(fs::exists(store + "-wal") && fs::file_size(store + "-wal") > 0);
  EXPECT_EQ(StoreIntegrity(store), "ok");
  ::chmod(store.c_str(), 0644);
}

TEST_F(ImportFaultTest, StoreFolderCannotBeCreated) {
  // The folder would have to be made below a regular file.
  const std::string blocker = WriteConfig("blocker", "a file, not a folder");
  const std::string store = blocker + "/sub/registry.db";
  const Workload w = MakeWorkload("Nowhere", 5, 3);
  ProgramRun run = RunProgram(program_, Import(WriteConfig("nowhere.cfg", w.text), store));
  EXPECT_EQ(run.exit_code, kExitStoreUnavailable);
  EXPECT_NE(run.error_output.find("cannot use the registry store " + store), std::string::npos)
      << run.error_output;
  EXPECT_EQ(testing_support::ReadWholeFile(blocker), "a file, not a folder");
}

// Damaged store files: random bytes, a store with random bytes over some of
// its pages, and a store cut short. The program ends normally with a
// message, and leaves files that are not a store as they were.
TEST_F(ImportFaultTest, DamagedStore) {
  const Workload w = MakeWorkload("Damaged", 300, 5);
  const std::string config = WriteConfig("damaged.cfg", w.text);
  const std::string good = NewStore();
  ExpectComplete(RunProgram(program_, Import(config, good)), good, w);
  const std::string good_bytes = testing_support::ReadWholeFile(good);
  ASSERT_GT(good_bytes.size(), 20000u);

  std::mt19937 random(7);
  auto random_bytes = [&](std::size_t n) {
    std::string bytes(n, '\0');
    for (char& c : bytes)
      c = static_cast<char>(random());
    return bytes;
  };
  struct Case {
    std::string name;
    std::string bytes;
    bool is_store;  // the file still begins as a store does
  };
  std::string overwritten = good_bytes;
  overwritten.replace(4096, 8192, random_bytes(8192));
  const Case cases[] = {
      {"an empty file", "", false},
      {"100 random bytes", random_bytes(100), false},
      {"4096 random bytes", random_bytes(4096), false},
      {"100000 random bytes", random_bytes(100000), false},
      {"random pages in a store", overwritten, true},
      {"a store cut short", good_bytes.substr(0, good_bytes.size() / 2), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string store = NewStore();
    WriteFile(store, c.bytes);
    ProgramRun run = RunProgram(program_, Import(config, store));
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_code, kExitStoreUnavailable);
    EXPECT_NE(run.error_output.find("registry store " + store), std::string::npos)
        << run.error_output;
    if (!c.is_store) {
      EXPECT_EQ(testing_support::ReadWholeFile(store), c.bytes);
      EXPECT_FALSE(fs::exists(store + "-wal"));
    }
  }
}

// Imports into a store whose writes fail once it has grown, the first of two
// files first. The program stops with a message; the store stays sound, keeps
// the first file whole, holds a beginning of the second one with its keys
// whole, and "Loading" stays 0.
void ExpectStoppedByFullDisk(const std::string& store, const Workload& first,
                             const Workload& second, const ProgramRun& run) {
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_code, kExitStoreUnavailable);
  EXPECT_NE(run.error_output.find("registry store"), std::string::npos) << run.error_output;
  // The import stops at the first failed write, saying why and at which line.
  EXPECT_NE(run.error_output.find("full.cfg:"), std::string::npos) << run.error_output;
  EXPECT_NE(run.error_output.find(": The registry store"), std::string::npos) << run.error_output;
  ASSERT_EQ(StoreIntegrity(store), "ok");
  StoreContent content;
  std::string error;
  ASSERT_TRUE(ReadStoreContent(store, &content, &error)) << error;
  std::string problem;
  EXPECT_EQ(WholeKeys(content, first, &problem), static_cast<int>(first.keys.size())) << problem;
  const int whole = WholeKeys(content, second, &problem);
  EXPECT_GE(whole, 0) << problem;
  EXPECT_LT(whole, static_cast<int>(second.keys.size()));
  EXPECT_EQ(testing_support::LoadingValue(content), 0);
}

TEST_F(ImportFaultTest, FileSizeLimitFillsTheDisk) {
  const std::string store = NewStore();
  const Workload first = MakeWorkload("Before", 50, 5);
  ExpectComplete(RunProgram(program_, Import(WriteConfig("before.cfg", first.text), store)), store,
                 first);
  const Workload second = MakeWorkload("Full", 3000, 10);
  ProgramOptions options = Import(WriteConfig("full.cfg", second.text), store);
  options.file_size_limit = static_cast<long long>(fs::file_size(store)) + 256 * 1024;
  ExpectStoppedByFullDisk(store, first, second, RunProgram(program_, options));
}

// The same on a small file system of its own, where the machine allows a
// private mount.
TEST_F(ImportFaultTest, FullFileSystem) {
  const std::string mount_point = testing_support::NewTempDir();
  const std::string copy = testing_support::NewTempDir();
  const Workload first = MakeWorkload("Before", 50, 5);
  // More than the 4 MiB of the file system holds, with the log as large as
  // its commits make it.
  const Workload second = MakeWorkload("Full", 12000, 10);
  const std::string first_config = WriteConfig("before.cfg", first.text);
  const std::string second_config = WriteConfig("full.cfg", second.text);
  const std::string store = mount_point + "/registry.db";

  // The child mounts the file system where only it sees it, runs both
  // imports there, and copies the store out.
  const std::string report = testing_support::JoinPath(copy, "runs");
  pid_t child = ::fork();
  if (child == 0) {
    if (!MountSmallPrivateDisk(mount_point))
      ::_exit(77);
    ProgramRun a = RunProgram(program_, Import(first_config, store));
    ProgramRun b = RunProgram(program_, Import(second_config, store));
    std::ofstream out(report);
    out << a.exit_code << " " << a.signal << "\n"
        << b.exit_code << " " << b.signal << "\n"
        << b.error_output;
    out.close();
    for (const char* suffix : {"", "-wal"}) {
      std::error_code ignored;
      fs::copy_file(store + suffix, copy + "/registry.db" + suffix, ignored);
    }
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "no private mount of a small file system here";

  std::istringstream lines(testing_support::ReadWholeFile(report));
  ProgramRun a, b;
  lines >> a.exit_code >> a.signal >> b.exit_code >> b.signal;
  lines.ignore(1);
  b.error_output.assign(std::istreambuf_iterator<char>(lines), {});
  EXPECT_EQ(a.exit_code, 0);
  ExpectStoppedByFullDisk(copy + "/registry.db", first, second, b);
}

// The configuration file changes after the program has read its first
// block: the program is stopped there, the file is changed, and the program
// goes on. The blocks are laid out so that the first ends after a whole line.
class ChangingConfigTest : public ImportFaultTest {
 protected:
  // A file whose first block holds `first.keys` whole, padded with a
  // comment line, followed by `rest`.
  std::string Layout(const Workload& first, const Workload& rest) {
    const std::size_t block = TTextReader::kBufferSize;
    std::string text = first.text;
    EXPECT_LT(text.size() + 2, block);
    text += "<<" + std::string(block - text.size() - 3, '-') + "\n";
    text += rest.text;
    EXPECT_GT(text.size(), 2 * block);
    return text;
  }

  // Starts the import of `config` and stops it once it has read one block
  // and not more. False when the moment was missed.
  bool StopAfterFirstBlock(RunningProgram* running, const std::string& name) {
    const std::string config = fs::canonical(name).string();
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < give_up) {
      const long long position = running->FilePosition(config);
      if (position == static_cast<long long>(TTextReader::kBufferSize)) {
        if (!running->Stop())
          return false;
        if (running->FilePosition(config) == position)
          return true;
        running->Continue();
        return false;
      }
      if (position > static_cast<long long>(TTextReader::kBufferSize) || running->Ended())
        return false;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
  }

  // Runs the import and applies `change` while it is stopped; answers the
  // run, retrying a few times if the moment is missed.
  template <typename Change>
  ProgramRun ImportWhileChanging(const std::string& text, const std::string& store, Change change) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      const std::string config = WriteConfig("changing" + std::to_string(attempt) + ".cfg", text);
      // The store of a missed attempt goes with its log and shared memory: a
      // log left beside a new store of the same name would be read into it.
      for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(store + suffix);
      RunningProgram running(program_, Import(config, store));
      if (!StopAfterFirstBlock(&running, config))
        continue;
      change(config);
      running.Continue();
      return running.Wait();
    }
    ADD_FAILURE() << "the program was never caught after its first block";
    return ProgramRun();
  }
};

TEST_F(ChangingConfigTest, TruncatedWhileRead) {
  const Workload first = MakeWorkload("Kept", 200, 5);
  const Workload rest = MakeWorkload("Cut", 2500, 5);
  const std::string store = NewStore();
  ProgramRun run = ImportWhileChanging(Layout(first, rest), store, [](const std::string& config) {
    ASSERT_EQ(::truncate(config.c_str(), 1000), 0);
  });
  // The import ends where the file now ends: with the block it had read.
  ExpectComplete(run, store, first);
  EXPECT_EQ(Content(store).count("HKEY_CURRENT_USER\\" + rest.tree), 0u);
}

TEST_F(ChangingConfigTest, GrownWhileRead) {
  const Workload first = MakeWorkload("Early", 200, 5);
  const Workload rest = MakeWorkload("Middle", 2500, 5);
  const Workload added = MakeWorkload("Added", 50, 5);
  const std::string store = NewStore();
  ProgramRun run = ImportWhileChanging(Layout(first, rest), store, [&](const std::string& config) {
    std::ofstream out(config, std::ios::app);
    out << added.text;
  });
  ExpectComplete(run, store, first);
  ExpectComplete(run, store, rest);
  ExpectComplete(run, store, added);
}

TEST_F(ChangingConfigTest, DeletedOrReplacedWhileRead) {
  const Workload first = MakeWorkload("One", 200, 5);
  const Workload rest = MakeWorkload("Two", 2500, 5);
  const std::string text = Layout(first, rest);
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced" : "deleted");
    const std::string store = NewStore();
    ProgramRun run = ImportWhileChanging(text, store, [&](const std::string& config) {
      if (replace) {
        const std::string other = WriteConfig("other.cfg", "[Software\\Mardovan\\Other]\n");
        ASSERT_EQ(::rename(other.c_str(), config.c_str()), 0);
      } else {
        ASSERT_EQ(::unlink(config.c_str()), 0);
      }
    });
    // The open file is read to its end as it was.
    ExpectComplete(run, store, first);
    ExpectComplete(run, store, rest);
    EXPECT_EQ(Content(store).count("HKEY_CURRENT_USER\\Software\\Mardovan\\Other"), 0u);
  }
}

}  // namespace
