// The fixture of the program-level fault tests: workloads of keys and values
// with what a complete import of them leaves, the check that a store holds a
// beginning of an import with its keys whole, and the means of bringing a
// store into trouble (a small private disk, another writer's lock, a folder
// that several users share).
#ifndef BREVLIN_TESTING_POSIX_FAULT_FIXTURE_H_
#define BREVLIN_TESTING_POSIX_FAULT_FIXTURE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace testing_support {

// Memory use is checked only where the program runs without a sanitizer,
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;
#else
constexpr bool kMeasureMemory = true;
#endif

// The positive number in the environment variable `name`, else `fallback`.
int EnvCount(const char* name, int fallback);

// In a child process: mounts a file system of 4 MB at `mount_point` that
// only this process sees. False where the machine allows no private mount.
bool MountSmallPrivateDisk(const std::string& mount_point);

// Writes `contents` to `path`, replacing what it held.
void WriteFile(const std::string& path, const std::string& contents);

// A REG_SZ value as the store holds it (with its NUL), and a REG_DWORD one.
StoredValue Text(const std::string& text);
StoredValue Dword(std::uint32_t n);

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

Workload MakeWorkload(const std::string& tree, int keys, int values);

// Checks that the store holds a beginning of the import of `w` and nothing
// else below its tree: keys 0 to m-1 exist, every one of them but the last
// whole, the last whole or without values. The import commits in groups of
// whole keys, and a key's values always together; only the key itself may be
// committed before them, by the check that it may be written. Answers how
// many keys are whole, or -1 with `problem`.
int WholeKeys(const StoreContent& content, const Workload& w, std::string* problem);

// What the store checker finds wrong with the store file: SQLite's
// integrity check and the store's own rules. Empty when the store is sound.
std::string StoreCheckProblems(const std::string& store);

// Whether a run that ended by itself said that it failed, by its exit status.
bool ReportedFailure(const ProgramRun& run);

// What a run that the store stopped must show: a message that says what
// happened to the store and where the import stopped, and an exit status
// that is not success.
void ExpectStoreFailure(const ProgramRun& run, const std::string& what);

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
    std::filesystem::remove_all(path_, ignored);
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
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
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
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
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
// success, and a message about the store.
bool ClearFailure(const ProgramRun& run);

// The values of `expected` that `content` lacks or holds otherwise.
int LostValues(const StoreContent& expected, const StoreContent& content);

int ValueCount(const StoreContent& content);
// A test of register-brevlin under faults, with the files it imports in the
// test's own folder.
class ImportFaultTest : public ProgramTest {
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

}  // namespace testing_support

#endif  // BREVLIN_TESTING_POSIX_FAULT_FIXTURE_H_
