// Several processes on one registry store: writers and a reader at the same
// time, a writer killed in the middle, and a writer that ends without closing
// its key. The child processes are this test program again, started with
// BREVLIN_STORE_CHILD naming their part; they run it before main and exit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "regstore/regstore.h"
#include "testing/posix/program_runner.h"
#include "testing/posix/store_key.h"
#include "testing/registry_contents.h"

extern char** environ;

namespace {

constexpr int kValuesPerKey = 10;

std::string KeyPath(int writer, int key) {
  return "Software\\BrevlinTest\\Writer" + std::to_string(writer) + "\\Key" + std::to_string(key);
}

std::string ValueName(int value) {
  return "Value" + std::to_string(value);
}

// The data of one value: its type and bytes follow from where it is.
std::uint32_t ValueType(int value) {
  return value % 3 == 0 ? regdefs::kRegDword : regdefs::kRegBinary;
}

std::vector<std::uint8_t> ValueData(int writer, int key, int value) {
  if (ValueType(value) == regdefs::kRegDword) {
    std::uint32_t n = static_cast<std::uint32_t>(writer * 1000000 + key * 10 + value);
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
  }
  std::vector<std::uint8_t> data;
  for (int i = 0; i < 40 + value * 7; ++i) {
    data.push_back(static_cast<std::uint8_t>(writer * 31 + key * 7 + value * 3 + i));
  }
  return data;
}

// Writes `keys` keys as an import does. Every kCommitEvery keys it commits
// what it holds back and then reports the last key's number on
// `progress_fd` (when not negative): every key up to it is committed.
constexpr int kCommitEvery = 50;
int WriterChild(int writer, int keys, int progress_fd) {
  for (int k = 0; k < keys; ++k) {
    if (!testing_support::StoreKeyTakesWrites(regdefs::kHkeyCurrentUser, KeyPath(writer, k)))
      return 10;
    testing_support::ScopedStoreKey key;
    if (key.Create(regdefs::kHkeyCurrentUser, KeyPath(writer, k)) != regdefs::kErrorSuccess)
      return 11;
    for (int v = 0; v < kValuesPerKey; ++v) {
      std::vector<std::uint8_t> data = ValueData(writer, k, v);
      if (regstore::SetValue(key.get(), ValueName(v).c_str(), ValueType(v), data.data(),
                             static_cast<std::uint32_t>(data.size())) != regdefs::kErrorSuccess) {
        return 13;
      }
    }
    if (key.Close() != regdefs::kErrorSuccess)
      return 14;
    if (progress_fd >= 0 && (k + 1) % kCommitEvery == 0) {
      if (regstore::CommitPending() != regdefs::kErrorSuccess)
        return 15;
      std::string line = std::to_string(k) + "\n";
      if (::write(progress_fd, line.data(), line.size()) < 0)
        return 12;
    }
  }
  return 0;
}

// Reads the writers' keys over and over until every value is there; any value
// that is there must be whole. Answers 0 when all were found intact.
int ReaderChild(int writers, int keys) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  std::vector<std::uint8_t> buffer(4096);
  while (std::chrono::steady_clock::now() < deadline) {
    bool complete = true;
    for (int w = 0; w < writers; ++w) {
      for (int k = 0; k < keys; ++k) {
        regdefs::RegKey key = regdefs::kNullKey;
        if (regstore::OpenKey(regdefs::kHkeyCurrentUser, KeyPath(w, k).c_str(), regdefs::kKeyRead,
                              &key) != regdefs::kErrorSuccess) {
          complete = false;
          continue;
        }
        for (int v = 0; v < kValuesPerKey; ++v) {
          std::uint32_t type = 0;
          std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
          regdefs::Status status =
              regstore::QueryValue(key, ValueName(v).c_str(), nullptr, &type, buffer.data(), &size);
          if (status == regdefs::kErrorFileNotFound) {
            complete = false;
            continue;
          }
          std::vector<std::uint8_t> expected = ValueData(w, k, v);
          if (status != regdefs::kErrorSuccess || type != ValueType(v) ||
              std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + size) != expected) {
            std::fprintf(stderr, "reader: %s %s: status %u\n", KeyPath(w, k).c_str(),
                         ValueName(v).c_str(), status);
            return 20;
          }
        }
        if (regstore::CloseKey(key) != regdefs::kErrorSuccess)
          return 22;
      }
    }
    if (complete)
      return 0;
  }
  return 21;
}

// Writes one value and ends normally without closing the key.
int ExitWithoutCloseChild() {
  regdefs::RegKey key = regdefs::kNullKey;
  if (regstore::CreateKey(regdefs::kHkeyCurrentUser, "Software\\BrevlinTest\\Unclosed",
                          regdefs::kKeyAllAccess, &key, nullptr) != regdefs::kErrorSuccess)
    return 30;
  const std::uint8_t one[] = {1, 0, 0, 0};
  if (regstore::SetValue(key, "Pending", regdefs::kRegDword, one, 4) != regdefs::kErrorSuccess)
    return 31;
  return 0;
}

// Writes keys with every file limited to `limit_kib` KiB, until the store
// refuses a write, a close or a flush. Every 20 keys it flushes (which
// commits) and, when that succeeds, reports the last key on `progress_fd`.
// Answers 0 when the store refused one.
int LimitedWriterChild(int limit_kib, int progress_fd) {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit = {static_cast<rlim_t>(limit_kib) * 1024,
                        static_cast<rlim_t>(limit_kib) * 1024};
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
    return 40;
  for (int k = 0; k < 100000; ++k) {
    regdefs::RegKey key = regdefs::kNullKey;
    if (regstore::CreateKey(regdefs::kHkeyCurrentUser, KeyPath(0, k).c_str(),
                            regdefs::kKeyAllAccess, &key, nullptr) != regdefs::kErrorSuccess)
      return 0;
    for (int v = 0; v < kValuesPerKey; ++v) {
      std::vector<std::uint8_t> data = ValueData(0, k, v);
      if (regstore::SetValue(key, ValueName(v).c_str(), ValueType(v), data.data(),
                             static_cast<std::uint32_t>(data.size())) != regdefs::kErrorSuccess) {
        static_cast<void>(regstore::CloseKey(key));  // the refused write is the answer
        return 0;
      }
    }
    if (regstore::CloseKey(key) != regdefs::kErrorSuccess)
      return 0;
    if ((k + 1) % 20 != 0)
      continue;
    if (regstore::FlushKey(regdefs::kHkeyCurrentUser) != regdefs::kErrorSuccess)
      return 0;
    std::string line = std::to_string(k) + "\n";
    if (::write(progress_fd, line.data(), line.size()) < 0)
      return 42;
  }
  return 41;
}

// Reads the value `name` of Software\BrevlinTest\Synced and ends; answers 0
// when it holds the dword `expected`.
int ReadSyncedChild(int name, int expected) {
  auto stored = testing_support::ReadValue(regdefs::kHkeyCurrentUser,
                                           "Software\\BrevlinTest\\Synced", ValueName(name));
  const std::vector<std::uint8_t> data = {static_cast<std::uint8_t>(expected), 0, 0, 0};
  return stored && stored->type == regdefs::kRegDword && stored->data == data ? 0 : 50;
}

// Runs the part named by BREVLIN_STORE_CHILD, if any, and ends the process.
int RunChildPartIfAsked() {
  const char* part = std::getenv("BREVLIN_STORE_CHILD");
  if (!part)
    return 0;
  std::istringstream words(part);
  std::string role;
  int a = 0, b = 0, c = -1;
  words >> role >> a >> b >> c;
  int code = 99;
  try {
    if (role == "writer")
      code = WriterChild(a, b, c);
    else if (role == "reader")
      code = ReaderChild(a, b);
    else if (role == "exit-without-close")
      code = ExitWithoutCloseChild();
    else if (role == "limited-writer")
      code = LimitedWriterChild(a, b);
    else if (role == "read-synced")
      code = ReadSyncedChild(a, b);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", role.c_str(), e.what());
    code = 98;
  }
  std::exit(code);
}

[[maybe_unused]] const int kChildPart = RunChildPartIfAsked();

// Starts this program as a child that plays `part` on the store `store`.
pid_t StartChild(const std::string& part, const std::string& store) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "REGSTORE=", 9) != 0 && std::strncmp(*e, "BREVLIN_STORE_CHILD=", 20) != 0)
      env_strings.push_back(*e);
  }
  env_strings.push_back("REGSTORE=" + store);
  env_strings.push_back("BREVLIN_STORE_CHILD=" + part);
  std::vector<char*> envp;
  for (std::string& s : env_strings)
    envp.push_back(s.data());
  envp.push_back(nullptr);
  char program[] = "/proc/self/exe";
  char* argv[] = {program, nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, program, nullptr, nullptr, argv, envp.data()) != 0)
    return -1;
  return pid;
}

int WaitExitCode(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ExpectKeyIntact(int writer, int key) {
  const std::string path = KeyPath(writer, key);
  for (int v = 0; v < kValuesPerKey; ++v) {
    auto stored = testing_support::ReadValue(regdefs::kHkeyCurrentUser, path, ValueName(v));
    ASSERT_TRUE(stored.has_value()) << path << " " << ValueName(v);
    EXPECT_EQ(stored->type, ValueType(v)) << path << " " << ValueName(v);
    EXPECT_EQ(stored->data, ValueData(writer, key, v)) << path << " " << ValueName(v);
  }
}

// Reads the key numbers that a child reports on `fd` until it closes the
// pipe, calls `seen` with each, and answers the last (-1 for none).
int FollowProgress(int fd, const std::function<void(int)>& seen) {
  int last = -1;
  std::string pending;
  char chunk[256];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof(chunk))) > 0) {
    pending.append(chunk, static_cast<std::size_t>(n));
    std::string::size_type end;
    while ((end = pending.find('\n')) != std::string::npos) {
      last = std::stoi(pending.substr(0, end));
      pending.erase(0, end + 1);
      seen(last);
    }
  }
  ::close(fd);
  return last;
}

class RegistryProcessTest : public ::testing::Test {
 protected:
  testing_support::ScopedTestRegistry registry_;
};

TEST_F(RegistryProcessTest, WritersAndAReaderAtTheSameTime) {
  constexpr int kKeys = 250;
  const std::string store = registry_.StorePath();
  ASSERT_TRUE(
      testing_support::StoreKeyTakesWrites(regdefs::kHkeyCurrentUser, "Software\\BrevlinTest"));
  const pid_t reader = StartChild("reader 2 " + std::to_string(kKeys), store);
  const pid_t writer0 = StartChild("writer 0 " + std::to_string(kKeys), store);
  const pid_t writer1 = StartChild("writer 1 " + std::to_string(kKeys), store);
  ASSERT_GT(reader, 0);
  ASSERT_GT(writer0, 0);
  ASSERT_GT(writer1, 0);
  EXPECT_EQ(WaitExitCode(writer0), 0);
  EXPECT_EQ(WaitExitCode(writer1), 0);
  EXPECT_EQ(WaitExitCode(reader), 0);
  for (int w = 0; w < 2; ++w) {
    for (int k = 0; k < kKeys; ++k)
      ExpectKeyIntact(w, k);
  }
  EXPECT_EQ(testing_support::StoreIntegrity(store), "ok");
}

// The keys after the last one reported committed may be there or not, but
// never in part: a key's values are committed together.
void ExpectWholeOrWithoutValues(int writer, int key) {
  const std::string path = KeyPath(writer, key);
  int present = 0;
  for (int v = 0; v < kValuesPerKey; ++v)
    present += testing_support::ReadValue(regdefs::kHkeyCurrentUser, path, ValueName(v)) ? 1 : 0;
  if (present == kValuesPerKey)
    ExpectKeyIntact(writer, key);
  else
    EXPECT_EQ(present, 0) << path << " holds some of its values";
}

TEST_F(RegistryProcessTest, KilledWriterLosesNothingCommitted) {
  const std::string store = registry_.StorePath();
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t writer = StartChild("writer 0 100000 " + std::to_string(pipe_fds[1]), store);
  ::close(pipe_fds[1]);
  ASSERT_GT(writer, 0);

  // Let it commit a few hundred keys, then kill it in the middle of its work.
  bool killed = false;
  const int last_committed = FollowProgress(pipe_fds[0], [&](int closed) {
    if (!killed && closed >= 300) {
      ::kill(writer, SIGKILL);
      killed = true;
    }
  });
  EXPECT_EQ(WaitExitCode(writer), 128 + SIGKILL);
  ASSERT_GE(last_committed, 300);

  EXPECT_EQ(testing_support::StoreIntegrity(store), "ok");
  for (int k = 0; k <= last_committed; ++k)
    ExpectKeyIntact(0, k);
  for (int k = last_committed + 1; k <= last_committed + 2 * kCommitEvery; ++k)
    ExpectWholeOrWithoutValues(0, k);
}

TEST_F(RegistryProcessTest, NormalExitCommitsWhatIsPending) {
  const pid_t child = StartChild("exit-without-close", registry_.StorePath());
  ASSERT_GT(child, 0);
  ASSERT_EQ(WaitExitCode(child), 0);
  auto stored = testing_support::ReadValue(regdefs::kHkeyCurrentUser,
                                           "Software\\BrevlinTest\\Unclosed", "Pending");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

// A write that the file system refuses (here: past the largest file this
// process may write) fails the call that commits it (a close, a flush or the
// next write), never silently; the store stays whole and keeps every key
// committed before.
TEST_F(RegistryProcessTest, RefusedWriteFailsAndLosesNothingCommittedBefore) {
  const std::string store = registry_.StorePath();
  ASSERT_TRUE(
      testing_support::StoreKeyTakesWrites(regdefs::kHkeyCurrentUser, "Software\\BrevlinTest"));
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t writer = StartChild("limited-writer 2048 " + std::to_string(pipe_fds[1]), store);
  ::close(pipe_fds[1]);
  ASSERT_GT(writer, 0);
  const int last_committed = FollowProgress(pipe_fds[0], [](int) {});
  EXPECT_EQ(WaitExitCode(writer), 0);
  ASSERT_GE(last_committed, 10);

  EXPECT_EQ(testing_support::StoreIntegrity(store), "ok");
  for (int k = 0; k <= last_committed; ++k)
    ExpectKeyIntact(0, k);
}

// Forcing a commit to the disk keeps this process's hold on the store: a
// program that opens the store and ends in between must not take it for
// unused, move the log into the file and remove the log under this
// connection, whose later commits would go to a removed file and be lost.
TEST_F(RegistryProcessTest, CommitsAfterAnotherProgramEndedAreKept) {
  const std::string store = registry_.StorePath();
  for (int round = 0; round < 3; ++round) {
    {
      testing_support::ScopedStoreKey key;
      ASSERT_EQ(key.Create(regdefs::kHkeyCurrentUser, "Software\\BrevlinTest\\Synced"),
                regdefs::kErrorSuccess);
      const std::uint8_t data[] = {static_cast<std::uint8_t>(round + 1), 0, 0, 0};
      ASSERT_EQ(
          regstore::SetValue(key.get(), ValueName(round).c_str(), regdefs::kRegDword, data, 4),
          regdefs::kErrorSuccess);
      ASSERT_EQ(key.Close(), regdefs::kErrorSuccess);
    }
    ASSERT_EQ(regstore::CommitToDisk(), regdefs::kErrorSuccess);
    // Another program reads this round's value and ends.
    const pid_t reader =
        StartChild("read-synced " + std::to_string(round) + " " + std::to_string(round + 1), store);
    ASSERT_GT(reader, 0);
    EXPECT_EQ(WaitExitCode(reader), 0) << "round " << round;
    struct stat log;
    EXPECT_EQ(::stat((store + "-wal").c_str(), &log), 0)
        << "round " << round << ": the log was removed while this process had the store open";
  }
}

}  // namespace
