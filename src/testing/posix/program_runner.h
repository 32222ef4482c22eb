// Helpers for tests that run the built programs as a user would: start them
// beside the test binary, stop, continue or kill them, collect what they
// wrote to standard error and how much memory they used, and read the
// registry store they leave behind without changing it.
#ifndef BREVLIN_TESTING_POSIX_PROGRAM_RUNNER_H_
#define BREVLIN_TESTING_POSIX_PROGRAM_RUNNER_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "testing/registry_contents.h"

namespace testing_support {

// The program `name` of the build that this test binary belongs to.
std::string BuiltProgram(const std::string& name);

struct ProgramOptions {
  std::vector<std::string> arguments;
  // The store file (REGSTORE); the environment's when empty.
  std::string store;
  // Changes to the environment: "NAME=value" sets a variable, "NAME" alone
  // removes it.
  std::vector<std::string> environment;
  // The current folder of the program; the test's when empty.
  std::string folder;
  // A limit on the size of every file the program writes (RLIMIT_FSIZE), with
  // SIGXFSZ ignored so that writes past it fail instead; none when negative.
  long long file_size_limit = -1;
  // The user and group id to run as (the test runs as root); the test's own
  // when negative.
  int user = -1;
};

// How a program run ended.
struct ProgramRun {
  int exit_code = -1;  // -1 when a signal ended it
  int signal = 0;      // the signal that ended it, or 0
  std::string output;  // what it wrote to standard output
  std::string error_output;
  // The highest resident memory seen while Wait() watched it.
  long peak_memory_kib = 0;
  double seconds = 0;
};

// A program started as a child process. The destructor kills it if it is
// still running.
class RunningProgram {
 public:
  RunningProgram(const std::string& program, const ProgramOptions& options);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }
  bool Started() const { return pid_ > 0; }
  // Whether it has ended; collects its end without waiting.
  bool Ended();
  // Stops it (SIGSTOP) and returns once it is stopped; false when it ended
  // first.
  bool Stop();
  void Continue();
  // Waits up to `seconds` for it to stop by itself; false when it ended or
  // went on running.
  bool WaitUntilStopped(double seconds);
  // Waits for the end.
  ProgramRun Wait();
  // Kills it (SIGKILL) and waits for the end.
  ProgramRun Kill();
  // The read position of the program's open file `path`, or -1 when it has
  // no such file open.
  long long FilePosition(const std::string& path) const;

 private:
  void Collect(int status);
  void WatchMemory();

  std::string program_;  // without links, as the system names it
  pid_t pid_ = -1;
  bool ended_ = false;
  ProgramRun run_;
  std::string error_file_;
  std::string output_file_;
  double start_ = 0;
  long peak_kib_ = 0;
};

ProgramRun RunProgram(const std::string& program, const ProgramOptions& options);

// Everything a store holds: each key by its full path ("HKEY_CURRENT_USER\..."
// with the names as stored), with its values by name.
using StoreContent = std::map<std::string, std::map<std::string, StoredValue>>;

// Reads a store without writing to it, also while another process is
// stopped in the middle of a write. False (with `error`) when it cannot be
// read.
bool ReadStoreContent(const std::string& store, StoreContent* content, std::string* error);

// The answer of SQLite's integrity check of the store file: "ok" when it is
// sound.
std::string StoreIntegrity(const std::string& store);

// The handshake value "Loading" in a store: -1 when it is absent, -2 when it
// is no 4-byte REG_DWORD.
long long LoadingValue(const StoreContent& content);

// A test of the Linux program as built beside the test binary, with a folder
// of its own for files and stores.
class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest();
  void SetUp() override;
  // A store file in a new folder, not made yet.
  std::string NewStore();
  // What `store` holds; a test failure when it cannot be read.
  StoreContent Content(const std::string& store);

  std::string program_;
  std::string dir_;
};

}  // namespace testing_support

#endif  // BREVLIN_TESTING_POSIX_PROGRAM_RUNNER_H_
