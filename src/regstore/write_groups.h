// The write transaction of the store: changes are collected in one
// transaction, begun by the first change after a commit, and committed in
// groups. Every commit happens at one of these points:
//   CloseChanged   a handle that made a change in the transaction is closed
//                  and no other such handle is open (a group boundary): the
//                  group is committed once it is kGroupAge old or has
//                  changed kGroupKeys keys;
//   CommitIfDue    the next call comes at a group boundary, or no call comes
//                  (the thread of CommitGroups), once the group is due;
//   CommitPending  the program is about to wait: read a file, show a
//                  message, sleep (FlushPendingWrites);
//   Commit         a handle is flushed (which then forces the commit to the
//                  disk), an owner's operation ends, the process switches
//                  to another store file, the process ends.
// Only CommitPending and a flush may commit while a handle that made a change
// is still open; a writer that closes each key before it waits has each
// key's changes committed together. What a kill leaves is a whole number of
// groups. A transaction whose changes cancel out (a value created and deleted
// again, as a write probe does) is rolled back instead (ReleaseIfUnchanged),
// which costs nothing on disk.
#ifndef BREVLIN_REGSTORE_WRITE_GROUPS_H_
#define BREVLIN_REGSTORE_WRITE_GROUPS_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "regstore/connection.h"
#include "regstore/handles.h"
#include "regstore/key_lookup.h"
#include "regstore/regstore.h"

namespace regstore {

// A group is due once it is this old or has changed this many keys.
constexpr std::chrono::milliseconds kGroupAge(50);
constexpr std::uint64_t kGroupKeys = 1000;

class WriteGroups : public FailureObserver {
 public:
  // `mutex` guards the store, this object with it: every call is made with
  // it held, and the committer thread takes it to commit a due group.
  WriteGroups(std::mutex* mutex, StoreConnection* connection, KeyLookup* lookup);
  // Stops the committer thread; what is pending stays uncommitted.
  ~WriteGroups();
  WriteGroups(const WriteGroups&) = delete;
  WriteGroups& operator=(const WriteGroups&) = delete;

  bool in_txn() const { return in_txn_; }
  bool held() const { return held_; }
  // Set when a commit of changes failed: every later change is refused with
  // it.
  Status lost_changes() const { return lost_changes_; }

  // Begins the write transaction, unless one is open.
  Status Begin();
  // Begins the write transaction for a change, unless the store refuses
  // changes (read-only, in trouble, or changes lost before).
  Status BeginWrite();
  Status Commit();
  // Ends a transaction at once when nothing in it would last.
  void ReleaseIfUnchanged();
  // Whether the write transaction holds changes that would last.
  bool HasChanges() const;
  // Forgets the transaction of a connection that was closed.
  void Abandon();

  // Records a change made through `handle` (`root`: a root key's, which is
  // never closed).
  void MarkDirty(KeyHandle* handle, bool root);
  // Closes the part of `handle` in the group: counts its key and commits
  // the group when it is due and no other changed handle is open.
  Status CloseChanged(const KeyHandle& handle, bool root);
  void CommitIfDue();
  // Whether the group in hand is old enough or large enough.
  bool GroupDue() const;
  void SetLimits(std::chrono::milliseconds age, std::uint64_t keys);

  // What regstore.h's CommitPending, HoldChanges, DiscardChanges and
  // CommitToDisk do.
  Status CommitPending();
  void Hold();
  void Discard();
  Status CommitToDisk();
  // The end of the run: held changes are dropped, the rest committed.
  void Finish();
  // A new store file: nothing is held, nothing was lost.
  void Reset();

  // The flags of a key that is about to change, checked once per
  // transaction.
  Status VerifiedFlags(std::int64_t id, std::uint32_t* flags);
  // Records a value created (`created`) or changed in the transaction, by
  // its folded name.
  void NoteValueSet(std::int64_t key_id, const std::string& folded, bool created);
  // Records a value deleted in the transaction, by its folded name.
  void NoteValueDeleted(std::int64_t key_id, const std::string& folded);
  // Records that keys were created or their flags changed.
  void NoteKeysChanged();
  // Ends an owner's change: it may have changed any key, so nothing known
  // of keys holds any more; it is committed unless changes are held.
  Status CommitOwnerChange();

  // Stops the committer thread; `lock` holds the store's mutex and is let go
  // while the thread ends.
  void StopCommitter(std::unique_lock<std::mutex>* lock);

  void StatementFailed(Status status, int rc) override;

 private:
  void EndTransaction();
  void Rollback();
  // Records that a transaction's changes are lost: every later change is
  // refused with `status`.
  void LoseChanges(Status status, int rc);
  // Records a change that lasts whatever else the transaction does.
  void NoteLastingChange();
  // The thread that commits a group once it is due while no call comes,
  // and its wake-up when a group begins or its last changed handle closes.
  void CommitGroups();
  void WakeCommitter();

  std::mutex& mutex_;
  StoreConnection& connection_;
  KeyLookup& lookup_;

  Status lost_changes_ = regdefs::kErrorSuccess;
  bool in_txn_ = false;
  std::uint64_t txn_id_ = 1;
  std::chrono::steady_clock::time_point txn_start_;
  // Changes that cannot cancel out, and values created in this transaction
  // (key id and folded name): deleting one of those again cancels its
  // creation.
  std::uint64_t lasting_changes_ = 0;
  std::set<std::pair<std::int64_t, std::string>> fresh_values_;
  // Keys whose existence and flags were read in this transaction.
  std::unordered_map<std::int64_t, std::uint32_t> verified_keys_;
  // Whether this transaction created keys or changed their flags.
  bool keys_changed_ = false;
  // Open handles other than root keys that made a change in this
  // transaction; the keys that handles closed after a change in it, and the
  // last of them.
  std::chrono::milliseconds group_age_ = kGroupAge;
  std::uint64_t group_key_limit_ = kGroupKeys;
  std::uint64_t open_changed_handles_ = 0;
  std::uint64_t group_keys_ = 0;
  std::int64_t last_group_key_ = 0;
  // Started with the first write transaction and stopped when the store is
  // destroyed; woken when a group begins or its last changed handle closes.
  std::thread committer_;
  std::condition_variable group_changed_;
  bool stopping_ = false;
  // Whether the thread waits without a deadline; whether it could not be
  // started.
  bool committer_idle_ = false;
  bool committer_failed_ = false;
  // Between Hold and the next commit: nothing commits by itself.
  bool held_ = false;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_WRITE_GROUPS_H_
