// The write groups on their own, over a connection to a store file of their
// own: when a group is due and ends, which changes cancel out, and what a
// failure leaves. The test holds the store's mutex throughout, so that the
// committer thread ends no group behind its back, except where it is the
// thread that is watched.
#include "regstore/write_groups.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "regstore/schema.h"
#include "testing/temp_files.h"

namespace {

using namespace regdefs;
using regstore::KeyHandle;
using std::chrono::milliseconds;

constexpr milliseconds kNever(3600 * 1000);

class WriteGroupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_.UsePath(testing_support::NewTempDir() + "/registry.db");
    std::string detail;
    ASSERT_EQ(connection_.Open(&detail), kErrorSuccess) << detail;
  }

  // A handle to the key `id` that made a change in the group.
  KeyHandle Changed(std::int64_t id, bool root = false) {
    KeyHandle handle;
    handle.key_id = id;
    groups_.MarkDirty(&handle, root);
    return handle;
  }

  // Counts the keys named `name` as another connection sees the store.
  int KeysSeen(const std::string& name) {
    sqlite3* other = nullptr;
    int count = -1;
    if (sqlite3_open_v2(connection_.opened_path().c_str(), &other, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
      sqlite3_stmt* stmt = nullptr;
      sqlite3_prepare_v2(other, "SELECT count(*) FROM keys WHERE name = ?1", -1, &stmt, nullptr);
      sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_STATIC);
      if (sqlite3_step(stmt) == SQLITE_ROW)
        count = sqlite3_column_int(stmt, 0);
      sqlite3_finalize(stmt);
    }
    sqlite3_close(other);
    return count;
  }

  // Adds a key below HKEY_CURRENT_USER in the write transaction.
  void InsertKey(const std::string& name) {
    sqlite3_stmt* stmt = connection_.Statement(regstore::kInsertKey);
    sqlite3_bind_int64(stmt, 1, regstore::kFirstRootId);
    sqlite3_bind_text(stmt, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 3, name.c_str(), -1, SQLITE_TRANSIENT);
    ASSERT_EQ(connection_.StepDone(stmt), kErrorSuccess);
    groups_.NoteKeysChanged();
  }

  std::mutex mutex_;
  regstore::StoreConnection connection_;
  regstore::KeyLookup lookup_{&connection_};
  regstore::WriteGroups groups_{&mutex_, &connection_, &lookup_};
  // Let go before the groups stop their thread.
  std::unique_lock<std::mutex> lock_{mutex_};
};

TEST_F(WriteGroupsTest, GroupEndsAtItsKeyLimitCountingEachKeyOnce) {
  groups_.SetLimits(kNever, 2);
  ASSERT_EQ(groups_.Begin(), kErrorSuccess);
  InsertKey("K1");
  const KeyHandle check = Changed(10);
  EXPECT_EQ(groups_.CloseChanged(check, false), kErrorSuccess);
  // The same key again through another handle, as a write check and the
  // writes that follow it do: still one key.
  const KeyHandle writes = Changed(10);
  EXPECT_EQ(groups_.CloseChanged(writes, false), kErrorSuccess);
  EXPECT_TRUE(groups_.in_txn());
  EXPECT_EQ(KeysSeen("K1"), 0);
  // A second key ends the group, with what it holds.
  const KeyHandle other = Changed(11);
  EXPECT_EQ(groups_.CloseChanged(other, false), kErrorSuccess);
  EXPECT_FALSE(groups_.in_txn());
  EXPECT_EQ(KeysSeen("K1"), 1);
  // A handle of the group that ended changes nothing in the next one.
  ASSERT_EQ(groups_.Begin(), kErrorSuccess);
  EXPECT_EQ(groups_.CloseChanged(check, false), kErrorSuccess);
  EXPECT_FALSE(groups_.GroupDue());
}

TEST_F(WriteGroupsTest, DueGroupWaitsForItsLastChangedHandle) {
  groups_.SetLimits(milliseconds(0), 1);
  ASSERT_EQ(groups_.Begin(), kErrorSuccess);
  const KeyHandle first = Changed(10);
  const KeyHandle second = Changed(11);
  // A root key's handle is never closed, so it holds nothing back.
  const KeyHandle root = Changed(regstore::kFirstRootId, true);
  EXPECT_TRUE(groups_.GroupDue());
  EXPECT_EQ(groups_.CloseChanged(first, false), kErrorSuccess);
  groups_.CommitIfDue();
  EXPECT_TRUE(groups_.in_txn());
  EXPECT_EQ(groups_.CloseChanged(second, false), kErrorSuccess);
  EXPECT_FALSE(groups_.in_txn());
  (void)root;
}

TEST_F(WriteGroupsTest, HeldChangesAreNeverDue) {
  groups_.SetLimits(milliseconds(0), 1);
  groups_.Hold();
  ASSERT_EQ(groups_.Begin(), kErrorSuccess);
  InsertKey("Held");
  EXPECT_EQ(groups_.CloseChanged(Changed(10), false), kErrorSuccess);
  EXPECT_FALSE(groups_.GroupDue());
  groups_.CommitIfDue();
  EXPECT_TRUE(groups_.in_txn());
  // An owner's change leaves them held too.
  EXPECT_EQ(groups_.CommitOwnerChange(), kErrorSuccess);
  EXPECT_TRUE(groups_.in_txn());
  EXPECT_EQ(KeysSeen("Held"), 0);
  // Only when asked, and then to the disk.
  EXPECT_EQ(groups_.CommitToDisk(), kErrorSuccess);
  EXPECT_FALSE(groups_.in_txn());
  EXPECT_FALSE(groups_.held());
  EXPECT_EQ(KeysSeen("Held"), 1);
}

TEST_F(WriteGroupsTest, DiscardDropsTheHeldChanges) {
  groups_.Hold();
  ASSERT_EQ(groups_.Begin(), kErrorSuccess);
  InsertKey("Dropped");
  groups_.Discard();
  EXPECT_FALSE(groups_.in_txn());
  EXPECT_FALSE(groups_.held());
  EXPECT_EQ(groups_.CommitPending(), kErrorSuccess);
  EXPECT_EQ(KeysSeen("Dropped"), 0);
}

TEST_F(WriteGroupsTest, ChangesThatCancelOutLeaveNothing) {
  enum Op { kCreate, kUpdate, kDelete, kKeys };
  struct Step {
    Op op;
    std::int64_t key;
    const char* name;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    bool changed;
  };
  const std::vector<Case> cases = {
      {"nothing", {}, false},
      {"created, then deleted", {{kCreate, 10, "a"}, {kDelete, 10, "a"}}, false},
      {"created, set again, deleted",
       {{kCreate, 10, "a"}, {kUpdate, 10, "a"}, {kDelete, 10, "a"}},
       false},
      {"another created value stays",
       {{kCreate, 10, "a"}, {kCreate, 10, "b"}, {kDelete, 10, "a"}},
       true},
      {"the same name in another key is another value",
       {{kCreate, 10, "a"}, {kDelete, 11, "a"}},
       true},
      {"a value that was there before changed", {{kUpdate, 10, "a"}}, true},
      {"a value that was there before deleted", {{kDelete, 10, "a"}}, true},
      {"a key made in between lasts",
       {{kCreate, 10, "a"}, {kKeys, 0, ""}, {kDelete, 10, "a"}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(groups_.Begin(), kErrorSuccess);
    for (const Step& step : c.steps) {
      switch (step.op) {
        case kCreate:
          groups_.NoteValueSet(step.key, step.name, true);
          break;
        case kUpdate:
          groups_.NoteValueSet(step.key, step.name, false);
          break;
        case kDelete:
          groups_.NoteValueDeleted(step.key, step.name);
          break;
        case kKeys:
          groups_.NoteKeysChanged();
          break;
      }
    }
    EXPECT_EQ(groups_.HasChanges(), c.changed);
    groups_.ReleaseIfUnchanged();
    EXPECT_EQ(groups_.in_txn(), c.changed);
    EXPECT_EQ(groups_.CommitPending(), kErrorSuccess);
    EXPECT_FALSE(groups_.HasChanges());
  }
}

TEST_F(WriteGroupsTest, ChangesRolledBackByAFailureAreLost) {
  ASSERT_EQ(groups_.Begin(), kErrorSuccess);
  InsertKey("Lost");
  // A failure that leaves the transaction open loses nothing.
  EXPECT_EQ(connection_.Fail(SQLITE_CONSTRAINT), kErrorGenFailure);
  EXPECT_TRUE(groups_.in_txn());
  EXPECT_EQ(groups_.lost_changes(), kErrorSuccess);
  // One after which SQLite has rolled the transaction back loses it all, and
  // every change after it is refused.
  ASSERT_EQ(sqlite3_exec(connection_.db().get(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(connection_.Fail(SQLITE_NOMEM), kErrorNotEnoughMemory);
  EXPECT_FALSE(groups_.in_txn());
  EXPECT_EQ(groups_.lost_changes(), kErrorNotEnoughMemory);
  EXPECT_EQ(groups_.BeginWrite(), kErrorNotEnoughMemory);
  EXPECT_EQ(groups_.CommitPending(), kErrorNotEnoughMemory);
  EXPECT_EQ(groups_.CommitToDisk(), kErrorNotEnoughMemory);
  // Another store file starts afresh.
  groups_.Reset();
  EXPECT_EQ(groups_.BeginWrite(), kErrorSuccess);
  EXPECT_EQ(KeysSeen("Lost"), 0);
}

TEST_F(WriteGroupsTest, NothingIsCommittedIntoAFileMovedAway) {
  ASSERT_EQ(groups_.Begin(), kErrorSuccess);
  InsertKey("Moved");
  const std::string path = connection_.opened_path();
  ASSERT_EQ(std::rename(path.c_str(), (path + ".away").c_str()), 0);
  EXPECT_EQ(groups_.Commit(), kErrorBadDb);
  EXPECT_FALSE(groups_.in_txn());
  EXPECT_EQ(groups_.lost_changes(), kErrorBadDb);
  EXPECT_EQ(groups_.BeginWrite(), kErrorBadDb);
}

TEST_F(WriteGroupsTest, CommitterThreadEndsAnOldGroupWhileNoCallComes) {
  groups_.SetLimits(milliseconds(20), 1000000);
  ASSERT_EQ(groups_.Begin(), kErrorSuccess);
  InsertKey("Old");
  EXPECT_EQ(groups_.CloseChanged(Changed(10), false), kErrorSuccess);
  EXPECT_TRUE(groups_.in_txn());
  lock_.unlock();
  const auto start = std::chrono::steady_clock::now();
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
    std::this_thread::sleep_for(milliseconds(5));
    std::lock_guard<std::mutex> lock(mutex_);
    ended = !groups_.in_txn();
  }
  lock_.lock();
  EXPECT_TRUE(ended);
  EXPECT_EQ(KeysSeen("Old"), 1);
}

}  // namespace
