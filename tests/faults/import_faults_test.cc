// The Linux program under faults, run as a user runs it: killed at many
// points of a large import, several imports into one store at once, a store
// that is read-only, cannot be created, fills its disk or is damaged, and a
// configuration file that changes while it is read. Each test looks at what
// is left in the store afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/run_outcome.h"
#include "import/text_reader.h"
#include "platform/registry.h"
#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace {

namespace fs = std::filesystem;
using testing_support::BuiltProgram;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::ReadStoreContent;
using testing_support::RunningProgram;
using testing_support::RunProgram;
using testing_support::StoreContent;
using testing_support::StoredValue;
using testing_support::StoreIntegrity;

const char kHandshakeKey[] = "HKEY_CURRENT_USER\\Software\\Mardovan";

// Memory use is checked only where the program runs without a sanitizer,
// whose shadow memory and quarantine would swamp it.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;
#else
constexpr bool kMeasureMemory = true;
#endif

int EnvCount(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// In a child process: mounts a file system of 4 MB at `mount_point` that
// only this process sees. False where the machine allows no private mount.
bool MountSmallPrivateDisk(const std::string& mount_point) {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=4m") == 0;
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

StoredValue Text(const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return StoredValue{plat::kRegSz, data};
}

StoredValue Dword(std::uint32_t n) {
  return StoredValue{plat::kRegDword,
                     {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                      static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)}};
}

struct ExpectedKey {
  std::string path;                                         // below HKEY_CURRENT_USER
  std::vector<std::pair<std::string, StoredValue>> values;  // in file order
};

// A configuration file and what a complete import of it leaves: `keys` keys
// below Software\Mardovan\<tree>, each with `values` values of all three
// types.
struct Workload {
  std::string tree;
  std::string text;
  std::vector<ExpectedKey> keys;
};

Workload MakeWorkload(const std::string& tree, int keys, int values) {
  Workload w;
  w.tree = "Software\\Mardovan\\" + tree;
  w.text = "<[Brevlin]>\n<HKEY_CURRENT_USER>\n";
  for (int k = 0; k < keys; ++k) {
    ExpectedKey key;
    key.path = w.tree + "\\Key" + std::to_string(k);
    w.text += "[" + key.path + "]\n";
    for (int v = 0; v < values; ++v) {
      const std::string name = "V" + std::to_string(v);
      const std::uint32_t n = static_cast<std::uint32_t>(k * 100 + v);
      switch (v % 3) {
        case 0:
          w.text += "integer\t" + name + "\t" + std::to_string(n) + "\n";
          key.values.emplace_back(name, Dword(n));
          break;
        case 1: {
          const std::string text = tree + " text " + std::to_string(n);
          w.text += "string\t" + name + "\t" + text + "\n";
          key.values.emplace_back(name, Text(text));
          break;
        }
        default: {
          StoredValue bytes{plat::kRegBinary, {}};
          for (int i = 0; i < 12; ++i) {
            const unsigned b = (n * 7 + static_cast<unsigned>(i)) & 0xFF;
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%02X,", b);
            w.text += i == 0 ? "binary\t" + name + "\t" + hex : std::string(hex);
            bytes.data.push_back(static_cast<std::uint8_t>(b));
          }
          w.text += "\n";
          key.values.emplace_back(name, bytes);
          break;
        }
      }
    }
    w.keys.push_back(key);
  }
  return w;
}

// Checks that the store holds a beginning of the import of `w` and nothing
// else below its tree: keys 0 to m-1 exist, every one of them but the last
// whole, the last whole or without values. The import commits in groups of
// whole keys, and a key's values always together; only the key itself may be
// committed before them, by the check that it may be written. Answers how
// many keys are whole, or -1 with `problem`.
int WholeKeys(const StoreContent& content, const Workload& w, std::string* problem) {
  const std::string root = "HKEY_CURRENT_USER\\";
  std::size_t present = 0;
  while (present < w.keys.size() && content.count(root + w.keys[present].path))
    ++present;
  std::size_t known = 0;
  for (const auto& entry : content) {
    if (entry.first.compare(0, root.size() + w.tree.size() + 1, root + w.tree + "\\") == 0)
      ++known;
  }
  if (known != present) {
    *problem = std::to_string(known) + " keys below the tree, but only the first " +
               std::to_string(present) + " of the file in order";
    return -1;
  }
  int whole = 0;
  for (std::size_t i = 0; i < present; ++i) {
    const ExpectedKey& key = w.keys[i];
    const auto& stored = content.at(root + key.path);
    std::size_t j = 0;
    while (j < key.values.size() && stored.count(key.values[j].first)) {
      if (!(stored.at(key.values[j].first) == key.values[j].second)) {
        *problem = key.path + " " + key.values[j].first + " holds other data";
        return -1;
      }
      ++j;
    }
    if (j != stored.size()) {
      *problem = key.path + " holds values that are not the first of its own";
      return -1;
    }
    if (j == key.values.size()) {
      ++whole;
    } else if (j != 0) {
      *problem = key.path + " holds " + std::to_string(j) + " of its values: a torn key";
      return -1;
    } else if (i + 1 < present) {
      *problem = key.path + " lacks values although the import went on to the next key";
      return -1;
    }
  }
  return whole;
}

class ImportFaultTest : public testing_support::ProgramTest {
 protected:
  std::string WriteConfig(const std::string& name, const std::string& text) {
    const std::string path = testing_support::JoinPath(dir_, name);
    WriteFile(path, text);
    return path;
  }

  // The workload's file with a comment line of 1 GiB (a hole of NUL bytes)
  // before the key `key`: while the program reads through it, it holds no
  // lock on the store, so that another program can take the store's write
  // lock, or look into the store, in the middle of the import.
  std::string WriteConfigWithPause(const std::string& name, const Workload& w, int key) {
    const std::string path = WriteConfig(name, "");
    WriteWithPause(path, w, key);
    return path;
  }
  static void WriteWithPause(const std::string& path, const Workload& w, int key) {
    const std::string::size_type split =
        w.text.find("[" + w.tree + "\\Key" + std::to_string(key) + "]");
    ASSERT_NE(split, std::string::npos);
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << w.text.substr(0, split) << "<<";
    }
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(split + 2 + (std::size_t{1} << 30))), 0);
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << "\n" << w.text.substr(split);
  }

  ProgramOptions Import(const std::string& config, const std::string& store) {
    ProgramOptions options;
    options.arguments = {"/IC", config};
    options.store = store;
    return options;
  }

  // Starts `count` programs at once, each importing its own workload of
  // `keys` keys of `values` values (named NAME0, NAME1, ...) into `store`;
  // the workloads are added to `loads`.
  std::vector<std::unique_ptr<RunningProgram>> StartTogether(const std::string& name, int count,
                                                             int keys, int values,
                                                             const std::string& store,
                                                             std::vector<Workload>* loads) {
    std::vector<std::unique_ptr<RunningProgram>> programs;
    for (int j = 0; j < count; ++j) {
      loads->push_back(MakeWorkload(name + std::to_string(j), keys, values));
      const std::string config = WriteConfig(name + std::to_string(j) + ".cfg", loads->back().text);
      programs.push_back(std::make_unique<RunningProgram>(program_, Import(config, store)));
    }
    return programs;
  }

  // The shortest of `runs` complete imports of `w` (in `config`), each into
  // a store that `new_store` answers, in seconds; each must be complete.
  template <typename MakeStore>
  double ShortestCompleteRun(int runs, const std::string& config, const Workload& w,
                             MakeStore new_store) {
    double shortest = 1e9;
    for (int i = 0; i < runs; ++i) {
      const std::string store = new_store();
      const ProgramRun full = RunProgram(program_, Import(config, store));
      ExpectComplete(full, store, w);
      shortest = std::min(shortest, full.seconds);
    }
    return shortest;
  }

  // A complete import of `w` into `store`: no message, every value there,
  // the handshake value removed.
  void ExpectComplete(const ProgramRun& run, const std::string& store, const Workload& w) {
    EXPECT_EQ(run.exit_code, 0) << run.error_output;
    EXPECT_EQ(run.error_output, "");
    StoreContent content = Content(store);
    std::string problem;
    EXPECT_EQ(WholeKeys(content, w, &problem), static_cast<int>(w.keys.size())) << problem;
    EXPECT_EQ(testing_support::LoadingValue(content), -1);
  }
};

// The program is stopped at a random point, the committed state is read,
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
      fs::remove(store);
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

// Whether a run that ended by itself said that it failed, by its exit status.
bool ReportedFailure(const ProgramRun& run) {
  return run.signal == 0 && run.exit_code != kExitSuccess;
}

// What a run that the store stopped must show: a message that says what
// happened to the store and where the import stopped, and an exit status
// that is not success.
void ExpectStoreFailure(const ProgramRun& run, const std::string& what) {
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_code, kExitStoreUnavailable) << run.error_output;
  EXPECT_NE(run.error_output.find("Registry Error\n"), std::string::npos) << run.error_output;
  EXPECT_NE(run.error_output.find(": The registry store"), std::string::npos) << run.error_output;
  EXPECT_NE(run.error_output.find(what), std::string::npos) << run.error_output;
}

// Holds the store's write lock as another program does (sqlite3 in BEGIN
// IMMEDIATE), without waiting for it.
class StoreLock {
 public:
  explicit StoreLock(const std::string& store) {
    sqlite3_open_v2(store.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
  }
  ~StoreLock() {
    Release();
    sqlite3_close(db_);
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool TryTake() {
    held_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    return held_;
  }
  void Release() {
    if (held_)
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    held_ = false;
  }

 private:
  sqlite3* db_ = nullptr;
  bool held_ = false;
};

// Stops the running import once the store holds at least `keys` whole keys of
// `w`, and answers true once `then` (run while it is stopped) agrees; the
// program goes on between tries.
template <typename Then>
bool StopAfterKeys(RunningProgram* running, const std::string& store, const Workload& w, int keys,
                   Then then) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < give_up) {
    if (running->Ended() || !running->Stop())
      return false;
    StoreContent content;
    std::string error;
    std::string problem;
    if (ReadStoreContent(store, &content, &error) && WholeKeys(content, w, &problem) >= keys &&
        then()) {
      return true;
    }
    running->Continue();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// A folder that every user may write to (mode 1777, as /tmp), for stores
// that several users meet at.
class SharedFolder {
 public:
  SharedFolder() {
    char name[] = "/tmp/brevlin-shared-XXXXXX";
    if (::mkdtemp(name) != nullptr) {
      path_ = name;
      ::chmod(name, 01777);
    }
  }
  ~SharedFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  SharedFolder(const SharedFolder&) = delete;
  SharedFolder& operator=(const SharedFolder&) = delete;
  const std::string& path() const { return path_; }
  // A file every user may read.
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string file = path_ + "/" + name;
    WriteFile(file, text);
    ::chmod(file.c_str(), 0644);
    return file;
  }
  // Every file in the folder with its owner, mode and size.
  std::string Listing() const {
    std::string listing;
    for (const auto& entry : fs::directory_iterator(path_)) {
      struct stat st;
      if (::lstat(entry.path().c_str(), &st) == 0) {
        listing += entry.path().filename().string() + " " + std::to_string(st.st_uid) + " " +
                   std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_size) + "\n";
      }
    }
    return listing;
  }
  // The files in the folder that belong to `user`.
  std::vector<std::string> FilesOf(int user) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
      struct stat st;
      if (::lstat(entry.path().c_str(), &st) == 0 && st.st_uid == static_cast<uid_t>(user))
        names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::string path_;
};

constexpr int kOwner = 65534;      // nobody
constexpr int kOtherUser = 65533;  // a user of no name

// Another program holds the store's write lock from the middle of an import
// on. The import waits once, up to its bound for the whole run, then stops
// with a message, leaves "Loading" at 0 and ends with a failure: the keys of
// the root lines that follow do not each wait again, and none is skipped
// silently.
TEST_F(ImportFaultTest, StalledWriterStopsTheImportWithinOneBound) {
  const std::string store = NewStore();
  const Workload first = MakeWorkload("Before", 5, 2);
  ExpectComplete(RunProgram(program_, Import(WriteConfig("before.cfg", first.text), store)), store,
                 first);
  Workload w = MakeWorkload("Stalled", 600, 10);
  for (int i = 0; i < 40; ++i) {
    w.text += "<HKEY_CURRENT_USER>\n[Software\\Mardovan\\Late" + std::to_string(i) +
              "]\nstring\tV\tlate\n";
  }
  RunningProgram running(program_, Import(WriteConfigWithPause("stalled.cfg", w, 30), store));
  StoreLock lock(store);
  ASSERT_TRUE(StopAfterKeys(&running, store, w, 20, [&] { return lock.TryTake(); }))
      << "the import was never caught after its first keys";
  running.Continue();
  const ProgramRun run = running.Wait();
  lock.Release();

  // 40 root lines that waited 15 s each would take ten minutes.
  EXPECT_LT(run.seconds, 40.0);
  ExpectStoreFailure(run, "busy");
  EXPECT_NE(run.error_output.find("stalled.cfg"), std::string::npos) << run.error_output;
  ASSERT_EQ(StoreIntegrity(store), "ok");
  const StoreContent after = Content(store);
  std::string problem;
  EXPECT_EQ(WholeKeys(after, first, &problem), static_cast<int>(first.keys.size())) << problem;
  const int whole = WholeKeys(after, w, &problem);
  EXPECT_GE(whole, 20) << problem;
  EXPECT_LT(whole, static_cast<int>(w.keys.size()));
  EXPECT_EQ(after.count("HKEY_CURRENT_USER\\Software\\Mardovan\\Late39"), 0u);
  EXPECT_EQ(testing_support::LoadingValue(after), 0);
}

// The owner makes the store read-only and runs an import: it is refused with
// a message and a failure, and leaves no file beside the store, so that once
// the owner makes the store writable again everything works as before.
TEST_F(ImportFaultTest, RefusedRunOnAReadOnlyStoreLeavesNothingBehind) {
  SharedFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string store = folder.path() + "/registry.db";
  const Workload first = MakeWorkload("First", 20, 3);
  const Workload second = MakeWorkload("Second", 20, 3);
  ProgramOptions owner = Import(folder.Write("first.cfg", first.text), store);
  owner.user = kOwner;
  ExpectComplete(RunProgram(program_, owner), store, first);

  ASSERT_EQ(::chmod(store.c_str(), 0444), 0);
  owner.arguments = {"/IC", folder.Write("second.cfg", second.text)};
  // Once with the files of a reader beside the store (this test's own read
  // left them), once without any.
  for (bool beside : {true, false}) {
    SCOPED_TRACE(beside ? "with the files beside the store" : "the store file alone");
    if (!beside) {
      fs::remove(store + "-wal");
      fs::remove(store + "-shm");
    }
    const std::string files = folder.Listing();
    const std::string bytes = testing_support::ReadWholeFile(store);
    ExpectStoreFailure(RunProgram(program_, owner), "read-only");
    EXPECT_EQ(testing_support::ReadWholeFile(store), bytes);
    EXPECT_EQ(folder.Listing(), files);
  }

  ASSERT_EQ(::chmod(store.c_str(), 0644), 0);
  ExpectComplete(RunProgram(program_, owner), store, second);
  ProgramOptions query;
  query.arguments = {"query", "HKCU\\" + second.keys[0].path};
  query.store = store;
  query.user = kOwner;
  EXPECT_EQ(RunProgram(BuiltProgram("regstore"), query).exit_code, 0);
}

// A store in a folder that everybody may write to, read by another user
// while its owner is away and while its owner writes: the other user reads
// it, may not write it, and leaves no file of its own beside it; the
// owner's imports go on working.
TEST_F(ImportFaultTest, AnotherUserReadsButCannotLockTheOwnerOut) {
  SharedFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string store = folder.path() + "/registry.db";
  const Workload first = MakeWorkload("Owners", 10, 3);
  ProgramOptions owner = Import(folder.Write("owners.cfg", first.text), store);
  owner.user = kOwner;
  ExpectComplete(RunProgram(program_, owner), store, first);

  ProgramOptions query;
  query.arguments = {"query", "HKCU\\" + first.keys[3].path};
  query.store = store;
  query.user = kOtherUser;
  ProgramRun read = RunProgram(BuiltProgram("regstore"), query);
  EXPECT_EQ(read.exit_code, 0) << read.error_output;
  EXPECT_EQ(folder.FilesOf(kOtherUser), std::vector<std::string>{});

  const Workload theirs = MakeWorkload("Theirs", 5, 3);
  ProgramOptions other = Import(folder.Write("theirs.cfg", theirs.text), store);
  other.user = kOtherUser;
  ExpectStoreFailure(RunProgram(program_, other), "another user");
  EXPECT_EQ(folder.FilesOf(kOtherUser), std::vector<std::string>{});

  // While the owner's import is stopped half-way, the other user reads.
  const Workload second = MakeWorkload("Later", 800, 10);
  const std::string later = folder.Write("later.cfg", "");
  WriteWithPause(later, second, 20);
  owner.arguments = {"/IC", later};
  {
    RunningProgram running(program_, owner);
    ASSERT_TRUE(StopAfterKeys(&running, store, second, 10, [] { return true; }));
    ProgramRun during = RunProgram(BuiltProgram("regstore"), query);
    EXPECT_EQ(during.exit_code, 0) << during.error_output;
    EXPECT_EQ(folder.FilesOf(kOtherUser), std::vector<std::string>{});
    running.Continue();
    ExpectComplete(running.Wait(), store, second);
  }
  EXPECT_EQ(folder.FilesOf(kOtherUser), std::vector<std::string>{});
  owner.arguments = {"/IC", folder.Write("owners.cfg", first.text)};
  ExpectComplete(RunProgram(program_, owner), store, first);
}

// The store file is replaced by another store while an import runs. The
// import notices at its next write, says so and fails; the file now at the
// path keeps exactly what it held.
TEST_F(ImportFaultTest, StoreReplacedUnderARunningImport) {
  const std::string other = NewStore();
  const Workload others = MakeWorkload("Other", 30, 3);
  ExpectComplete(RunProgram(program_, Import(WriteConfig("other.cfg", others.text), other)), other,
                 others);
  const StoreContent before = Content(other);

  const std::string store = NewStore();
  const Workload w = MakeWorkload("Replaced", 1500, 10);
  RunningProgram running(program_, Import(WriteConfigWithPause("replaced.cfg", w, 25), store));
  ASSERT_TRUE(StopAfterKeys(&running, store, w, 20, [&] {
    const std::string copy = store + ".copy";
    fs::copy_file(other, copy, fs::copy_options::overwrite_existing);
    return ::rename(copy.c_str(), store.c_str()) == 0;
  }));
  running.Continue();
  const ProgramRun run = running.Wait();
  ExpectStoreFailure(run, "replaced");
  EXPECT_NE(run.error_output.find("replaced.cfg"), std::string::npos) << run.error_output;
  ASSERT_EQ(StoreIntegrity(store), "ok");
  const StoreContent now = Content(store);
  EXPECT_TRUE(now == before) << "the store now at the path was written";
  for (const auto& key : now) {
    if (!before.count(key.first) || !(before.at(key.first) == key.second))
      ADD_FAILURE() << key.first << " differs";
  }
}

// Control bytes in the names that a message shows reach standard error
// escaped, never as commands to a terminal.
TEST_F(ImportFaultTest, ControlBytesOfTheFileReachNoTerminal) {
  const std::string store = NewStore();
  const std::string hostile =
      "\x1b]0;Owned\x07\x1b[2J\x9b"
      "31mRed\bX";
  struct Case {
    const char* name;
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"a value name", "string\t" + hostile + "\tx\n", "Failed to set data for '"},
      {"a product name", "<[" + hostile + "]>\n", "This configuration file belongs to "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun run = RunProgram(program_, Import(WriteConfig("escape.cfg", c.text), store));
    EXPECT_NE(run.error_output.find(c.shown + "\\x1B]0;Owned\\x07\\x1B[2J\x9b"
                                              "31mRed\\x08X"),
              std::string::npos)
        << run.error_output;
    for (char control : {'\x1b', '\x07', '\b'})
      EXPECT_EQ(run.error_output.find(control), std::string::npos) << int(control);
  }
}

// Files that hold one line of 3 GiB, made sparse so that they take no disk:
// a comment, a value and a key. The program reads each through, needs little
// memory for it, and treats the line as its kind says: the comment writes
// nothing, the value is longer than any the program writes and fails, the key
// is longer than any the registry takes and is refused.
TEST_F(ImportFaultTest, LinesOfThreeGigabytesNeedLittleMemory) {
  const long long kLine = 3LL << 30;
  struct Case {
    const char* name;
    std::string head;
    long long memory_mib;  // the most the run may use
    std::string message;
    bool after_written;  // a refused key skips the rest of its root section
  };
  const Case cases[] = {
      {"a comment", "<<", 48, "", true},
      {"a string value", "[Software\\Mardovan\\Huge]\nstring\tHuge\t", 160,
       "huge.cfg:2: Failed to set data for 'Huge'\n", false},
      {"a key", "[Software\\Mardovan\\", 160, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string config = testing_support::JoinPath(dir_, "huge.cfg");
    WriteFile(config, c.head);
    const std::string after = "\n[Software\\Mardovan\\After]\nstring\tReached\tyes\n";
    {
      const int fd = ::open(config.c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(c.head.size() + kLine)), 0);
      ASSERT_EQ(::pwrite(fd, after.data(), after.size(), static_cast<off_t>(c.head.size() + kLine)),
                static_cast<ssize_t>(after.size()));
      ::close(fd);
    }
    const std::string store = NewStore();
    const ProgramRun run = RunProgram(program_, Import(config, store));
    fs::remove(config);
    EXPECT_EQ(run.signal, 0);
    if (c.message.empty()) {
      EXPECT_EQ(run.error_output, "");
    } else {
      EXPECT_NE(run.error_output.find(c.message), std::string::npos) << run.error_output;
    }
    if (kMeasureMemory) {
      EXPECT_LE(run.peak_memory_kib, c.memory_mib * 1024) << "KiB at the peak";
    }
    std::printf("a line of 3 GiB, %s: %.1f s, %ld KiB at the peak\n", c.name, run.seconds,
                run.peak_memory_kib);
    const StoreContent content = Content(store);
    EXPECT_EQ(content.count("HKEY_CURRENT_USER\\Software\\Mardovan\\After"),
              c.after_written ? 1u : 0u);
    for (const auto& key : content)
      EXPECT_LT(key.first.size(), 100u) << "a key was made";
  }
}

// A file of the kernel's that says it is empty and would give hundreds of
// gigabytes is refused with a file error.
TEST_F(ImportFaultTest, EndlessFileIsRefused) {
  const std::string store = NewStore();
  RunningProgram running(program_, Import("/proc/self/pagemap", store));
  for (int i = 0; i < 3000 && !running.Ended(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(running.Ended()) << "still reading after 30 s";
  const ProgramRun run = running.Wait();
  EXPECT_NE(run.error_output.find("Could not import the program configuration"), std::string::npos)
      << run.error_output;
  if (kMeasureMemory) {
    EXPECT_LT(run.peak_memory_kib, 48 * 1024);
  }
}

// A command line of very many options: the time grows with its length, not
// with its square (where 80,000 options took over a minute). Eight times the
// options may take at most about twenty times as long, whatever the machine.
TEST_F(ImportFaultTest, ManyOptionsTakeTimeInProportion) {
  WriteConfig("m", "<<imported once, whatever the number of options\n");
  auto run_with = [&](int count) {
    ProgramOptions options;
    // Short ones, to stay within what the system passes to a program.
    options.arguments.assign(static_cast<std::size_t>(count), "/ICm");
    options.folder = dir_;
    options.store = NewStore();
    double best = 1e9;
    for (int attempt = 0; attempt < 3; ++attempt) {
      const ProgramRun run = RunProgram(program_, options);
      EXPECT_EQ(run.exit_code, 0) << run.error_output;
      best = std::min(best, run.seconds);
    }
    return best;
  };
  const double small = run_with(10000);
  const double large = run_with(80000);
  std::printf("10,000 options: %.3f s, 80,000 options: %.3f s\n", small, large);
  EXPECT_LT(large, 20 * std::max(small, 0.01));
}

// Whether a run ended as a failure that says so: an exit status that is not
// success, and a message about the store.
bool ClearFailure(const ProgramRun& run) {
  return run.signal == 0 && run.exit_code == kExitStoreUnavailable &&
         run.error_output.find(": The registry store") != std::string::npos;
}

// The values of `expected` that `content` lacks or holds otherwise.
int LostValues(const StoreContent& expected, const StoreContent& content) {
  int lost = 0;
  for (const auto& key : expected) {
    auto found = content.find(key.first);
    for (const auto& value : key.second) {
      if (found == content.end() || !found->second.count(value.first) ||
          !(found->second.at(value.first) == value.second)) {
        ++lost;
      }
    }
  }
  return lost;
}

int ValueCount(const StoreContent& content) {
  int count = 0;
  for (const auto& key : content)
    count += static_cast<int>(key.second.size());
  return count;
}

// Faults of every kind, counted together: the program killed at random
// points of imports and of the making of a new store, a full disk, a writer
// that holds the store, a read-only store, a store replaced under a running
// import, and another user's run. Prints one line: the faults injected, the
// runs that ended with a clear failure, the values lost (committed values that
// went, or keys left without the values the import went past) and the runs
// that reported success after a loss (an import that ended, or was cut off,
// with "Loading" gone although it had not written the whole file).
// BREVLIN_FAULT_KILLS sets the number of kills during imports (a quarter as
// many more are made during store creation).
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

  std::printf(
      "fault injection: %d faults injected (%d kills during imports, %d during store creation, a "
      "full disk by %s, a stalled writer, a read-only store, a replaced store, another user), %d "
      "runs ended with a clear failure, %d values lost, %d runs reported success after a loss\n",
      faults, kills, creation_kills, full_disk.c_str(), clear_failures, values_lost,
      false_successes);
  EXPECT_EQ(clear_failures, expected_failures);
  EXPECT_EQ(values_lost, 0);
  EXPECT_EQ(false_successes, 0);
}

}  // namespace
