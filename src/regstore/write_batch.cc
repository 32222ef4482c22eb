#include "regstore/write_batch.h"

#include <system_error>

#include "regstore/store.h"

namespace regstore {

using namespace regdefs;

Status Store::Begin() {
  if (in_txn_)
    return kErrorSuccess;
  // A read transaction is not upgraded, since another process may have
  // written since it began; the write transaction starts afresh.
  EndRead();
  if (StoreFileReplaced())
    return RefuseReplaced();
  Status status = StepDone(Statement(kBegin));
  if (status != kErrorSuccess)
    return status;
  in_txn_ = true;
  txn_start_ = std::chrono::steady_clock::now();
  key_cache_.Sync(db_.DataVersion());
  // A group is committed once due even when no call comes, so that the
  // write lock is not held while the program does other things.
  if (!committer_.joinable() && !committer_failed_) {
    try {
      committer_ = std::thread([this] { CommitGroups(); });
    } catch (const std::system_error&) {
      // Without the thread a due group waits for the next call, a close or
      // a wait of the program, as each of those commits it too.
      committer_failed_ = true;
    }
  }
  WakeCommitter();
  return kErrorSuccess;
}

void Store::EndTransaction() {
  // Keys created in a transaction that did not commit are not in the store.
  if (keys_changed_)
    key_cache_.Forget();
  // The transaction began with the cache in line with its snapshot, and no
  // other connection could write while it held the write lock: the cache
  // matches the store as this transaction leaves it, whose data version
  // moves on with the commit.
  if (db_.is_open())
    key_cache_.KeepInLine(db_.DataVersion());
  keys_changed_ = false;
  in_txn_ = false;
  ++txn_id_;
  open_changed_handles_ = 0;
  group_keys_ = 0;
  last_group_key_ = 0;
  lasting_changes_ = 0;
  fresh_values_.clear();
  verified_keys_.clear();
}

Status Store::Commit() {
  if (!in_txn_)
    return kErrorSuccess;
  const bool changed = HasChanges();
  // Changes are never committed into a file that no longer is the store.
  if (changed && StoreFileReplaced()) {
    sqlite3_step(Statement(kRollback));
    sqlite3_reset(Statement(kRollback));
    EndTransaction();
    const Status status = RefuseReplaced();
    LoseChanges(status, SQLITE_NOTADB);
    return status;
  }
  sqlite3_stmt* stmt = Statement(changed ? kCommit : kRollback);
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE && !sqlite3_get_autocommit(db_.get())) {
    sqlite3_step(Statement(kRollback));
    sqlite3_reset(Statement(kRollback));
  }
  if (rc == SQLITE_DONE)
    keys_changed_ = false;
  EndTransaction();
  if (rc == SQLITE_DONE)
    return kErrorSuccess;
  const Status status = FromSqlite(rc);
  if (changed)
    LoseChanges(status, rc);
  return status;
}

void Store::LoseChanges(Status status, int rc) {
  // The changes are gone, and a commit is often a close whose answer no
  // caller looks at. Every later change is refused, so that the writer
  // learns of it at its next write instead of going on as if all were
  // stored.
  lost_changes_ = status == kErrorSuccess ? kErrorGenFailure : status;
  Note("changes to the registry store " + db_path_ + " were lost: " + sqlite3_errstr(rc));
}

bool Store::HasChanges() const {
  return lasting_changes_ != 0 || !fresh_values_.empty();
}

void Store::ReleaseIfUnchanged() {
  if (in_txn_ && !HasChanges())
    Commit();
}

Status Store::BeginWrite() {
  if (read_only_)
    return RefuseReadOnly();
  if (trouble_ != kErrorSuccess)
    return trouble_;
  if (lost_changes_ != kErrorSuccess)
    return lost_changes_;
  return Begin();
}

Status Store::BeginValueChange(RegKey key, const Handle& handle) {
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  status = BeginWrite();
  if (status != kErrorSuccess)
    return status;
  std::uint32_t flags = 0;
  status = VerifiedFlags(handle.key_id, &flags);
  if (status == kErrorSuccess && (flags & kKeyValuesLocked))
    status = kErrorAccessDenied;
  // A root key handle is never opened, so its protection is checked here.
  if (status == kErrorSuccess && HandleTable::IsRoot(key) && (flags & kKeyProtected))
    status = kErrorAccessDenied;
  if (status != kErrorSuccess)
    ReleaseIfUnchanged();
  return status;
}

Status Store::CloseChanged(const Handle& handle, bool root) {
  if (!in_txn_ || handle.dirty_txn != txn_id_)
    return kErrorSuccess;
  // A key changed through two handles one after the other (as a write check
  // and the writes that follow it) counts once.
  if (handle.key_id != last_group_key_)
    ++group_keys_;
  last_group_key_ = handle.key_id;
  if (!root && --open_changed_handles_ == 0)
    WakeCommitter();
  return open_changed_handles_ == 0 && GroupDue() ? Commit() : kErrorSuccess;
}

void Store::CommitIfDue() {
  if (in_txn_ && open_changed_handles_ == 0 && GroupDue())
    Commit();
}

bool Store::GroupDue() const {
  if (held_)
    return false;
  return group_keys_ >= group_key_limit_ ||
         std::chrono::steady_clock::now() - txn_start_ >= group_age_;
}

void Store::SetGroupLimits(std::chrono::milliseconds age, std::uint64_t keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  group_age_ = age;
  group_key_limit_ = keys;
  group_changed_.notify_all();
}

Status Store::CommitPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  const Status status = db_.is_open() ? Commit() : kErrorSuccess;
  return status != kErrorSuccess ? status : lost_changes_;
}

void Store::HoldChanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  // What was changed before is not part of the held transaction. A failed
  // commit here is kept in lost_changes_, which refuses the changes to come.
  if (db_.is_open())
    Commit();
  held_ = true;
}

void Store::DiscardChanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  held_ = false;
  if (!in_txn_)
    return;
  sqlite3_step(Statement(kRollback));
  sqlite3_reset(Statement(kRollback));
  EndTransaction();
}

Status Store::CommitToDisk() {
  std::unique_lock<std::mutex> lock(mutex_);
  held_ = false;
  if (!db_.is_open())
    return lost_changes_;
  Status status = Commit();
  if (status == kErrorSuccess)
    status = lost_changes_;
  // Even when nothing is left to commit here, the groups committed before
  // may not have reached the disk yet.
  const Status synced = read_only_ ? kErrorSuccess : SyncToDisk();
  return status != kErrorSuccess ? status : synced;
}

void Store::WakeCommitter() {
  // A thread that waits for a deadline wakes by itself and looks again; only
  // one that waits for a group to begin or to be closed needs waking, which
  // spares the writer a switch to the thread at every close.
  if (committer_idle_)
    group_changed_.notify_all();
}

void Store::CommitGroups() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!in_txn_ || open_changed_handles_ != 0 || held_) {
      committer_idle_ = true;
      group_changed_.wait(lock);
      committer_idle_ = false;
      continue;
    }
    const auto due = txn_start_ + group_age_;
    if (std::chrono::steady_clock::now() >= due)
      Commit();
    else
      group_changed_.wait_until(lock, due);
  }
}

// Once a transaction holds a change that lasts, it is committed whatever
// follows: the values made in it need no more keeping track of (an import
// creates a key first, and then thousands of values).
void Store::NoteValueSet(std::int64_t key_id, const std::string& folded, bool created) {
  if (lasting_changes_ != 0)
    return;
  auto fresh = std::make_pair(key_id, folded);
  if (created) {
    fresh_values_.insert(std::move(fresh));
  } else if (fresh_values_.count(fresh) == 0) {
    NoteLastingChange();
  }
}

void Store::NoteValueDeleted(std::int64_t key_id, const std::string& folded) {
  if (lasting_changes_ == 0 && fresh_values_.erase(std::make_pair(key_id, folded)) == 0)
    NoteLastingChange();
}

void Store::NoteKeysChanged() {
  NoteLastingChange();
  keys_changed_ = true;
}

void Store::NoteLastingChange() {
  ++lasting_changes_;
  fresh_values_.clear();
}

}  // namespace regstore
