#include "regstore/write_batch.h"

#include "regstore/names.h"
#include "regstore/store.h"

namespace regstore {

using namespace plat;

Status Store::Begin() {
  if (in_txn_)
    return kErrorSuccess;
  // A read transaction is not upgraded, since another process may have
  // written since it began; the write transaction starts afresh.
  EndRead();
  Status status = StepDone(Statement(kBegin));
  if (status != kErrorSuccess)
    return status;
  in_txn_ = true;
  txn_start_ = std::chrono::steady_clock::now();
  key_cache_.Sync(db_.DataVersion());
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
  lasting_changes_ = 0;
  fresh_values_.clear();
  verified_keys_.clear();
}

Status Store::Commit() {
  if (!in_txn_)
    return kErrorSuccess;
  const bool changed = HasChanges();
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
  if (status == kErrorSuccess && IsRoot(key) && (flags & kKeyProtected))
    status = kErrorAccessDenied;
  if (status != kErrorSuccess)
    ReleaseIfUnchanged();
  return status;
}

Status Store::CommitIfHandleDirty(const Handle& handle) {
  return in_txn_ && handle.dirty_txn == txn_id_ ? Commit() : kErrorSuccess;
}

void Store::CommitIfOld() {
  if (in_txn_ && std::chrono::steady_clock::now() - txn_start_ > kMaxTransactionAge)
    Commit();
}

void Store::NoteValueSet(std::int64_t key_id, std::string_view name, bool created) {
  auto fresh = std::make_pair(key_id, FoldName(name));
  if (created) {
    fresh_values_.insert(std::move(fresh));
  } else if (fresh_values_.count(fresh) == 0) {
    ++lasting_changes_;
  }
}

void Store::NoteValueDeleted(std::int64_t key_id, std::string_view name) {
  if (fresh_values_.erase(std::make_pair(key_id, FoldName(name))) == 0)
    ++lasting_changes_;
}

void Store::NoteKeysChanged() {
  ++lasting_changes_;
  keys_changed_ = true;
}

}  // namespace regstore
