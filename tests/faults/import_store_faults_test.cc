// The Linux program against a store in trouble: another writer holds it, it
// is read-only, another user meets it, it is replaced under a running
// import; and against files and command lines that would cost it a terminal,
// memory or time.
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
using testing_support::ExpectStoreFailure;
using testing_support::ImportFaultTest;
using testing_support::kMeasureMemory;
using testing_support::kOtherUser;
using testing_support::kOwner;
using testing_support::MakeWorkload;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::ReadStoreContent;
using testing_support::RunningProgram;
using testing_support::RunProgram;
using testing_support::SharedFolder;
using testing_support::StopAfterKeys;
using testing_support::StoreContent;
using testing_support::StoredValue;
using testing_support::StoreIntegrity;
using testing_support::StoreLock;
using testing_support::WholeKeys;
using testing_support::Workload;
using testing_support::WriteFile;

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

}  // namespace
