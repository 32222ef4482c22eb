#include "regstore/write_groups.h"

#include <system_error>

namespace regstore {

using namespace regdefs;

WriteGroups::WriteGroups(std::mutex* mutex, StoreConnection* connection, KeyLookup* lookup)
    : mutex_(*mutex), connection_(*connection), lookup_(*lookup) {
  connection_.SetFailureObserver(this);
}

WriteGroups::~WriteGroups() {
  std::unique_lock<std::mutex> lock(mutex_);
  StopCommitter(&lock);
  connection_.SetFailureObserver(nullptr);
}

void WriteGroups::StopCommitter(std::unique_lock<std::mutex>* lock) {
  stopping_ = true;
  group_changed_.notify_all();
  if (committer_.joinable()) {
    lock->unlock();
    committer_.join();
    lock->lock();
  }
}

void WriteGroups::StatementFailed(Status status, int rc) {
  if (in_txn_ && sqlite3_get_autocommit(connection_.db().get())) {
    if (HasChanges())
      LoseChanges(status, rc);
    EndTransaction();
  }
}

void WriteGroups::Rollback() {
  sqlite3_step(connection_.Statement(kRollback));
  sqlite3_reset(connection_.Statement(kRollback));
  EndTransaction();
}

void WriteGroups::Abandon() {
  in_txn_ = false;
  EndTransaction();
}

void WriteGroups::Finish() {
  // Held changes are stored whole or not at all: a run that ends without
  // committing them failed.
  if (held_ && in_txn_)
    Rollback();
  Commit();
}

void WriteGroups::Reset() {
  held_ = false;
  lost_changes_ = kErrorSuccess;
}

void WriteGroups::MarkDirty(KeyHandle* handle, bool root) {
  if (handle->dirty_txn == txn_id_)
    return;
  handle->dirty_txn = txn_id_;
  // Root keys are never opened, and so never closed either.
  if (!root)
    ++open_changed_handles_;
}

Status WriteGroups::VerifiedFlags(std::int64_t id, std::uint32_t* flags) {
  auto it = verified_keys_.find(id);
  if (it != verified_keys_.end()) {
    *flags = it->second;
    return kErrorSuccess;
  }
  // The cache is in line with the write transaction since its start.
  const std::uint32_t* cached = lookup_.cache().Flags(id);
  if (in_txn_ && cached) {
    *flags = *cached;
    verified_keys_.emplace(id, *flags);
    return kErrorSuccess;
  }
  std::int64_t parent = 0;
  Status status = lookup_.KeyRow(id, &parent, flags);
  if (status != kErrorSuccess)
    return status;
  verified_keys_.emplace(id, *flags);
  return kErrorSuccess;
}

Status WriteGroups::CommitOwnerChange() {
  NoteKeysChanged();
  verified_keys_.clear();
  lookup_.cache().Forget();
  return held_ ? kErrorSuccess : Commit();
}

Status WriteGroups::Begin() {
  if (in_txn_)
    return kErrorSuccess;
  // A read transaction is not upgraded, since another process may have
  // written since it began; the write transaction starts afresh.
  connection_.EndRead();
  if (connection_.StoreFileReplaced())
    return connection_.RefuseReplaced();
  Status status = connection_.StepDone(connection_.Statement(kBegin));
  if (status != kErrorSuccess)
    return status;
  in_txn_ = true;
  txn_start_ = std::chrono::steady_clock::now();
  lookup_.cache().Sync(connection_.db().DataVersion());
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

void WriteGroups::EndTransaction() {
  // Keys created in a transaction that did not commit are not in the store.
  if (keys_changed_)
    lookup_.cache().Forget();
  // The transaction began with the cache in line with its snapshot, and no
  // other connection could write while it held the write lock: the cache
  // matches the store as this transaction leaves it, whose data version
  // moves on with the commit.
  if (connection_.is_open())
    lookup_.cache().KeepInLine(connection_.db().DataVersion());
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

Status WriteGroups::Commit() {
  if (!in_txn_)
    return kErrorSuccess;
  const bool changed = HasChanges();
  // Changes are never committed into a file that no longer is the store.
  if (changed && connection_.StoreFileReplaced()) {
    Rollback();
    const Status status = connection_.RefuseReplaced();
    LoseChanges(status, SQLITE_NOTADB);
    return status;
  }
  sqlite3_stmt* stmt = connection_.Statement(changed ? kCommit : kRollback);
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE && !sqlite3_get_autocommit(connection_.db().get())) {
    sqlite3_step(connection_.Statement(kRollback));
    sqlite3_reset(connection_.Statement(kRollback));
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

void WriteGroups::LoseChanges(Status status, int rc) {
  // The changes are gone, and a commit is often a close whose answer no
  // caller looks at. Every later change is refused, so that the writer
  // learns of it at its next write instead of going on as if all were
  // stored.
  lost_changes_ = status == kErrorSuccess ? kErrorGenFailure : status;
  connection_.Note("changes to the registry store " + connection_.opened_path() +
                   " were lost: " + sqlite3_errstr(rc));
}

bool WriteGroups::HasChanges() const {
  return lasting_changes_ != 0 || !fresh_values_.empty();
}

void WriteGroups::ReleaseIfUnchanged() {
  if (in_txn_ && !HasChanges())
    Commit();
}

Status WriteGroups::BeginWrite() {
  if (connection_.read_only())
    return connection_.RefuseReadOnly();
  if (connection_.trouble() != kErrorSuccess)
    return connection_.trouble();
  if (lost_changes_ != kErrorSuccess)
    return lost_changes_;
  return Begin();
}

Status WriteGroups::CloseChanged(const KeyHandle& handle, bool root) {
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

void WriteGroups::CommitIfDue() {
  if (in_txn_ && open_changed_handles_ == 0 && GroupDue())
    Commit();
}

bool WriteGroups::GroupDue() const {
  if (held_)
    return false;
  return group_keys_ >= group_key_limit_ ||
         std::chrono::steady_clock::now() - txn_start_ >= group_age_;
}

void WriteGroups::SetLimits(std::chrono::milliseconds age, std::uint64_t keys) {
  group_age_ = age;
  group_key_limit_ = keys;
  group_changed_.notify_all();
}

Status WriteGroups::CommitPending() {
  const Status status = connection_.is_open() ? Commit() : kErrorSuccess;
  return status != kErrorSuccess ? status : lost_changes_;
}

void WriteGroups::Hold() {
  // What was changed before is not part of the held transaction. A failed
  // commit here is kept in lost_changes_, which refuses the changes to come.
  if (connection_.is_open())
    Commit();
  held_ = true;
}

void WriteGroups::Discard() {
  held_ = false;
  if (in_txn_)
    Rollback();
}

Status WriteGroups::CommitToDisk() {
  held_ = false;
  if (!connection_.is_open())
    return lost_changes_;
  Status status = Commit();
  if (status == kErrorSuccess)
    status = lost_changes_;
  // Even when nothing is left to commit here, the groups committed before
  // may not have reached the disk yet.
  const Status synced = connection_.read_only() ? kErrorSuccess : connection_.SyncToDisk();
  return status != kErrorSuccess ? status : synced;
}

void WriteGroups::WakeCommitter() {
  // A thread that waits for a deadline wakes by itself and looks again; only
  // one that waits for a group to begin or to be closed needs waking, which
  // spares the writer a switch to the thread at every close.
  if (committer_idle_)
    group_changed_.notify_all();
}

void WriteGroups::CommitGroups() {
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
void WriteGroups::NoteValueSet(std::int64_t key_id, const std::string& folded, bool created) {
  if (lasting_changes_ != 0)
    return;
  auto fresh = std::make_pair(key_id, folded);
  if (created) {
    fresh_values_.insert(std::move(fresh));
  } else if (fresh_values_.count(fresh) == 0) {
    NoteLastingChange();
  }
}

void WriteGroups::NoteValueDeleted(std::int64_t key_id, const std::string& folded) {
  if (lasting_changes_ == 0 && fresh_values_.erase(std::make_pair(key_id, folded)) == 0)
    NoteLastingChange();
}

void WriteGroups::NoteKeysChanged() {
  NoteLastingChange();
  keys_changed_ = true;
}

void WriteGroups::NoteLastingChange() {
  ++lasting_changes_;
  fresh_values_.clear();
}

}  // namespace regstore
