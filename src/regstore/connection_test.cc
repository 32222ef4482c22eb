// The store's connection on its own: making and refusing files, telling a
// file replaced under it, the run's one wait limit, and which failures put
// the store as a whole in trouble.
#include "regstore/connection.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "testing/temp_files.h"

namespace {

using namespace regdefs;
using regstore::StoreConnection;
using testing_support::NewTempDir;
using testing_support::ReadWholeFile;

// A connection to a store file of its own, in a folder not made yet.
class StoreConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = NewTempDir() + "/store";
    path_ = dir_ + "/registry.db";
    connection_.UsePath(path_);
  }

  void OpenOrFail() {
    std::string detail;
    ASSERT_EQ(connection_.Open(&detail), kErrorSuccess) << detail;
  }

  std::string dir_;
  std::string path_;
  StoreConnection connection_;
};

TEST_F(StoreConnectionTest, MakesAMissingStoreWholeWithItsFolder) {
  EXPECT_EQ(connection_.Path(), path_);
  OpenOrFail();
  EXPECT_TRUE(connection_.is_open());
  EXPECT_EQ(connection_.opened_path(), path_);
  EXPECT_FALSE(connection_.read_only());
  EXPECT_EQ(connection_.trouble(), kErrorSuccess);
  EXPECT_FALSE(connection_.StoreFileReplaced());
  // The store takes a write at once.
  EXPECT_EQ(connection_.StepDone(connection_.Statement(regstore::kBegin)), kErrorSuccess);
  EXPECT_EQ(connection_.StepDone(connection_.Statement(regstore::kCommit)), kErrorSuccess);
  // Nothing is left of the file it was made under.
  connection_.Close();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string made = path_ + ".new-" + std::to_string(::getpid()) + suffix;
    struct stat st;
    EXPECT_NE(::stat(made.c_str(), &st), 0) << made;
  }
}

TEST_F(StoreConnectionTest, LeavesAFileThatIsNoStoreAsItIs) {
  ASSERT_EQ(::mkdir(dir_.c_str(), 0700), 0);
  const std::string text = "not a registry store\n";
  FILE* file = std::fopen(path_.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);

  std::string detail;
  EXPECT_EQ(connection_.Open(&detail), kErrorBadDb);
  EXPECT_NE(detail, "");
  EXPECT_FALSE(connection_.is_open());
  EXPECT_EQ(connection_.open_status(), kErrorBadDb);
  EXPECT_EQ(ReadWholeFile(path_), text);
  // Another file at the path is a new start.
  connection_.UsePath(dir_ + "/other.db");
  EXPECT_EQ(connection_.open_status(), kErrorSuccess);
  OpenOrFail();
}

TEST_F(StoreConnectionTest, StoreWithoutWritePermissionIsReadOnly) {
  OpenOrFail();
  connection_.Close();
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  OpenOrFail();
  EXPECT_TRUE(connection_.read_only());
  EXPECT_EQ(connection_.RefuseReadOnly(), kErrorAccessDenied);
}

TEST_F(StoreConnectionTest, TellsAFileReplacedOrRemovedUnderIt) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> change;
    bool replaced;
  };
  auto move = [](const std::string& from, const std::string& to) {
    ASSERT_EQ(std::rename(from.c_str(), to.c_str()), 0) << from << " -> " << to;
  };
  const std::vector<Case> cases = {
      {"untouched", [](const std::string&) {}, false},
      {"written in place",
       [](const std::string& path) {
         FILE* file = std::fopen(path.c_str(), "ab");
         ASSERT_NE(file, nullptr);
         std::fclose(file);
       },
       false},
      {"moved away and back",
       [&](const std::string& path) {
         move(path, path + ".away");
         move(path + ".away", path);
       },
       false},
      {"removed", [](const std::string& path) { ASSERT_EQ(::unlink(path.c_str()), 0); }, true},
      {"moved away", [&](const std::string& path) { move(path, path + ".away"); }, true},
      {"replaced by a copy",
       [&](const std::string& path) {
         const std::string copy = path + ".copy";
         ASSERT_EQ(regstore::CopyStoreFile(path, copy, nullptr), kErrorSuccess);
         move(copy, path);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StoreConnection connection;
    const std::string path = NewTempDir() + "/registry.db";
    connection.UsePath(path);
    std::string detail;
    ASSERT_EQ(connection.Open(&detail), kErrorSuccess) << detail;
    c.change(path);
    EXPECT_EQ(connection.StoreFileReplaced(), c.replaced);
    if (c.replaced) {
      EXPECT_EQ(connection.RefuseReplaced(), kErrorBadDb);
      EXPECT_EQ(connection.trouble(), kErrorBadDb);
    }
  }
}

TEST(StoreConnectionWait, OneLimitForTheWholeRun) {
  StoreConnection connection;
  connection.SetWaitLimit(0);
  EXPECT_FALSE(connection.WaitForLock(0));

  const std::chrono::milliseconds limit(30);
  connection.SetWaitLimit(static_cast<std::uint32_t>(limit.count()));
  const auto start = std::chrono::steady_clock::now();
  int waits = 0;
  while (waits < 1000 && connection.WaitForLock(waits))
    ++waits;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // The first pauses are short ones; together they use the limit up.
  EXPECT_GE(waits, 2);
  EXPECT_LT(waits, 1000);
  EXPECT_GE(elapsed, limit);
  // Used up, it stays used up, whatever the count of the next wait.
  EXPECT_FALSE(connection.WaitForLock(0));
  // A new limit starts the count of the time waited afresh.
  connection.SetWaitLimit(static_cast<std::uint32_t>(limit.count()));
  EXPECT_TRUE(connection.WaitForLock(0));
}

// Records what the connection tells of failures.
class RecordingObserver : public regstore::FailureObserver {
 public:
  void StatementFailed(Status status, int rc) override { told.emplace_back(status, rc); }
  std::vector<std::pair<Status, int>> told;
};

TEST_F(StoreConnectionTest, FailuresOfTheStoreAsAWholeStay) {
  struct Case {
    int rc;
    Status status;
    Status trouble;
  };
  const Case cases[] = {
      {SQLITE_BUSY, kErrorBusy, kErrorBusy},
      {SQLITE_LOCKED, kErrorBusy, kErrorBusy},
      {SQLITE_FULL, kErrorDiskFull, kErrorDiskFull},
      {SQLITE_IOERR_WRITE, kErrorIoDevice, kErrorIoDevice},
      {SQLITE_CORRUPT, kErrorBadDb, kErrorBadDb},
      {SQLITE_READONLY_DBMOVED, kErrorAccessDenied, kErrorWriteProtect},
      {SQLITE_CONSTRAINT, kErrorGenFailure, kErrorSuccess},
      {SQLITE_NOMEM, kErrorNotEnoughMemory, kErrorSuccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rc);
    StoreConnection connection;
    connection.UsePath(NewTempDir() + "/registry.db");
    ASSERT_EQ(connection.Open(nullptr), kErrorSuccess);
    RecordingObserver observer;
    connection.SetFailureObserver(&observer);
    EXPECT_EQ(connection.Fail(c.rc), c.status);
    EXPECT_EQ(connection.trouble(), c.trouble);
    ASSERT_EQ(observer.told.size(), 1u);
    EXPECT_EQ(observer.told[0], std::make_pair(c.status, c.rc));
    // A passing failure afterwards does not hide the trouble.
    connection.Fail(SQLITE_CONSTRAINT);
    EXPECT_EQ(connection.trouble(), c.trouble);
    EXPECT_EQ(observer.told.size(), 2u);
  }
}

TEST_F(StoreConnectionTest, ReadScopeSharesOneReadTransaction) {
  OpenOrFail();
  {
    regstore::ReadScope outer(&connection_, false);
    EXPECT_TRUE(connection_.in_read());
    {
      regstore::ReadScope inner(&connection_, false);
      EXPECT_TRUE(connection_.in_read());
    }
    // The inner scope did not end the outer one's transaction.
    EXPECT_TRUE(connection_.in_read());
  }
  EXPECT_FALSE(connection_.in_read());
  EXPECT_TRUE(sqlite3_get_autocommit(connection_.db().get()));
  // Inside a write transaction the reads are the write transaction's.
  regstore::ReadScope in_write(&connection_, true);
  EXPECT_FALSE(connection_.in_read());
}

}  // namespace
