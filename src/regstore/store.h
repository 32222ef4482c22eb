// The registry store of this process: one SQLite connection, the open key
// handles (a HandleTable of their own), and the write transaction that
// collects changes between commits.
// The class's functions are defined by concern, each group in the file
// named beside it.
#ifndef BREVLIN_REGSTORE_STORE_H_
#define BREVLIN_REGSTORE_STORE_H_

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "regdefs/root_keys.h"
#include "regstore/database.h"
#include "regstore/handles.h"
#include "regstore/key_cache.h"
#include "regstore/regstore.h"
#include "regstore/write_batch.h"

namespace regstore {

class Store {
 public:
  // The one store of this process. It commits what is pending when the
  // process ends normally.
  static Store& Instance();

  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // The seven registry functions (store.cc).
  Status OpenKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result);
  Status CreateKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result,
                   std::uint32_t* disposition);
  Status SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size);
  Status QueryValue(RegKey key, const char* name, const std::uint32_t* reserved,
                    std::uint32_t* type, std::uint8_t* data, std::uint32_t* size);
  Status DeleteValue(RegKey key, const char* name);
  Status Flush(RegKey key);
  Status Close(RegKey key);
  // Commits the group in hand now (write_batch.cc).
  Status CommitPending();
  // See regstore.h.
  void HoldChanges();
  void DiscardChanges();
  Status CommitToDisk();
  // When a group is due: its age and its number of keys (kGroupAge and
  // kGroupKeys unless changed, as tests do).
  void SetGroupLimits(std::chrono::milliseconds age, std::uint64_t keys);

  // Location and connection (connection.cc).
  std::string Path();
  void UsePath(const std::string& path);
  void SetWaitLimit(std::uint32_t milliseconds);
  Status Connect(std::string* detail);
  bool ReadOnly();
  // Whether the store can still take writes (see StoreState).
  Status State();

  // The owner's operations of regstore.h (admin.cc).
  Status FindKey(RegKey key, const std::string& path, StoreKeyInfo* info);
  // StoreWalk (tree_walk.cc); without `values`, values are not read.
  Status WalkTree(RegKey key, const std::string& path, bool recursive, StoreVisitor* visitor,
                  bool values = true);
  Status ChangeKeyFlags(RegKey key, const std::string& path, std::uint32_t set,
                        std::uint32_t clear);
  Status DeleteTree(RegKey key, const std::string& path, bool even_protected);

 private:
  friend class ReadScope;

  using Handle = KeyHandle;

  Store();
  ~Store();

  // --- connection.cc ---
  // Every call begins here: opens the store when needed and commits a
  // transaction that has been kept open too long.
  Status Enter();
  void Disconnect();
  Status OpenConnection(std::string* detail);
  Status OpenStore(std::string* detail);
  // Makes a new store at the path: set up under another name beside it and
  // linked into place only when whole, so that no program ever finds a store
  // half made, and a file at the path that is not a store is never taken for
  // a new one.
  Status CreateStoreFile(std::string* detail);
  // Whether the path no longer leads to the file this connection opened: the
  // store was replaced or removed under it.
  bool StoreFileReplaced() const;
  // Refuses writes from now on: the store was replaced or removed.
  Status RefuseReplaced();
  // Creates or checks the tables of a writable store.
  Status SetUpStore(std::string* detail);
  Status Fail(int rc);
  // SQLite's busy handler: waits for another process's lock, within what is
  // left of the run's wait limit.
  static int OnBusy(void* store, int count);
  int WaitForLock(int count);
  // Problems of the store as a whole go to standard error, each once: the
  // registry functions answer only a code, which their callers need not
  // show.
  void Note(const std::string& text);
  void NoteFailure(Status status, int rc);
  // Refuses a write because the store file is read-only.
  Status RefuseReadOnly();
  // Forces the committed changes to the disk.
  Status SyncToDisk();
  std::string PathLocked() const;

  // --- store.cc: handles ---
  Handle* Resolve(RegKey key);
  // The handle `key`, when it may set and delete values.
  Status ResolveForValueChange(RegKey key, Handle** handle);
  void MarkDirty(Handle* handle);

  // The start of an open or a create: checks `result`, finds the handle
  // `base` and splits `sub_key` into names.
  struct OpenTarget {
    Handle* handle = nullptr;
    std::vector<std::string_view> names;
  };
  // `for_create`: a create refuses a leading backslash under every root key;
  // an open of HKEY_CLASSES_ROOT takes one leading backslash as no backslash,
  // as the registry's functions do there.
  Status StartOpen(RegKey base, const char* sub_key, bool for_create, RegKey* result,
                   OpenTarget* target);

  // --- transaction.cc ---
  // Reads of one call share one read transaction (see ReadScope), which is
  // much cheaper than one per statement. A write transaction ends it first.
  void BeginRead();
  void EndRead();

  // --- write_batch.cc ---
  Status Begin();
  // The commit points: every commit of the write transaction happens in one
  // of these (write_batch.h says when).
  Status Commit();
  // Closes the part of `handle` in the group: counts its key and commits
  // the group when it is due and no other changed handle is open.
  Status CloseChanged(const Handle& handle, bool root);
  void CommitIfDue();
  // Whether the group in hand is old enough or large enough.
  bool GroupDue() const;
  // The thread that commits a group once it is due while no call comes,
  // and its wake-up when a group begins or its last changed handle closes.
  void CommitGroups();
  void WakeCommitter();
  void EndTransaction();
  // Whether the write transaction holds changes that would last.
  bool HasChanges() const;
  // Ends a transaction at once when nothing in it would last.
  void ReleaseIfUnchanged();
  // Records that a transaction's changes are lost: every later change is
  // refused with `status`.
  void LoseChanges(Status status, int rc);
  // Begins the write transaction for a change, unless the store refuses
  // changes (read-only, or changes lost before).
  Status BeginWrite();
  // Begins a change of the values of the key behind `handle`, opened as
  // `key`: the write transaction, and the key's own refusal of value changes
  // (its values locked, or a protected root key).
  Status BeginValueChange(RegKey key, const Handle& handle);
  // Records a value created (`created`) or changed in the transaction, by
  // its folded name.
  void NoteValueSet(std::int64_t key_id, const std::string& folded, bool created);
  // Records a value deleted in the transaction, by its folded name.
  void NoteValueDeleted(std::int64_t key_id, const std::string& folded);
  // Records that keys were created or their flags changed.
  void NoteKeysChanged();
  // Records a change that lasts whatever else the transaction does.
  void NoteLastingChange();

  // --- walk.cc: key lookups ---
  Status LookupChild(std::int64_t parent, std::string_view folded, std::int64_t* id,
                     std::uint32_t* flags, std::string* stored_name);
  Status KeyRow(std::int64_t id, std::int64_t* parent, std::uint32_t* flags);
  // Whether `id` or a key above it is protected; ERROR_KEY_DELETED when the
  // key is gone.
  Status ProtectedFrom(std::int64_t id, bool* is_protected);
  // The flags of a key that is about to change, checked once per transaction.
  Status VerifiedFlags(std::int64_t id, std::uint32_t* flags);
  Status MissingKeyStatus(std::int64_t id);
  // Whether `names` more levels below the key `base_id` stay within the
  // deepest a key may lie.
  Status CheckDepth(std::int64_t base_id, std::size_t names);
  // Follows `names` down from `base` as far as the keys exist: `found` of
  // them do, and `id` and `flags` are those of the last key reached (the
  // base itself when none is). ERROR_KEY_DELETED when the base is gone.
  // Runs inside a transaction; without `stored_path`, keys in the cache are
  // not looked up again. Leaves the folded names in folded_names_.
  Status Walk(std::int64_t base, const std::vector<std::string_view>& names, std::size_t* found,
              std::int64_t* id, std::uint32_t* flags, bool* any_protected,
              std::uint32_t* base_flags, std::string* stored_path);
  // What Walk finds, and when.
  struct WalkResult {
    std::size_t found = 0;
    std::int64_t id = 0;
    std::uint32_t flags = 0;
    bool any_protected = false;
    std::uint32_t base_flags = 0;
    std::uint64_t key_epoch = 0;  // the cache's epoch when it was found
  };
  Status WalkFrom(std::int64_t base, const std::vector<std::string_view>& names, WalkResult* walk);
  // The part of Walk that asks the database, from `first` on.
  Status WalkInStore(std::int64_t base, const std::vector<std::string_view>& names,
                     std::size_t first, std::size_t* found, std::int64_t* id, std::uint32_t* flags,
                     bool* any_protected, std::uint32_t* base_flags, std::string* stored_path);
  // Whether the base of an open or create, or a key above it, is protected.
  Status BaseRefusesWrites(std::int64_t base_id, std::uint32_t base_flags, bool* refuses);
  Status Find(RegKey key, const std::string& path, std::int64_t* id, StoreKeyInfo* info);

  // --- admin.cc ---
  // Finds the key at `path` below `key` in one read snapshot of the store
  // and, when `use` is given, runs it on the key's id in the same snapshot.
  Status ReadKey(RegKey key, const std::string& path, StoreKeyInfo* info,
                 const std::function<Status(std::int64_t id)>& use);
  // Begins an owner's change of the key at `path` below `key`.
  Status BeginOwnerChange(RegKey key, const std::string& path, std::int64_t* id);
  // Ends an owner's change that left the keys `changed`: commits it, or
  // rolls it back after a failure.
  Status EndOwnerChange(Status status);
  // Whether the key `id`, a key above or a key below it is protected.
  Status TreeIsProtected(std::int64_t id, bool* is_protected);

  sqlite3_stmt* Statement(StatementId id) { return db_.Statement(id); }
  Status StepDone(sqlite3_stmt* stmt);

  std::mutex mutex_;
  std::string path_override_;
  std::uint32_t wait_limit_ms_ = 15000;

  Database db_;
  std::string db_path_;
  bool read_only_ = false;

  HandleTable handles_;

  bool in_read_ = false;
  // Set when a commit of changes failed: every later change is refused with
  // it.
  Status lost_changes_ = regdefs::kErrorSuccess;
  // Set when the store failed as a whole (busy past the wait limit, disk full,
  // damaged, replaced): every later change is refused with it.
  Status trouble_ = regdefs::kErrorSuccess;
  // How the last attempt to open the store ended.
  Status open_status_ = regdefs::kErrorSuccess;
  // The time this process has waited for other processes' locks, in all: the
  // wait limit holds for the whole run, not for each call.
  std::chrono::steady_clock::duration waited_{};
  // The file the connection opened.
  dev_t store_device_ = 0;
  ino_t store_inode_ = 0;
  std::set<std::string> noted_;
  // The key that the last call failed to open because it is missing.
  RegKey missing_base_ = regdefs::kNullKey;
  std::string missing_path_;
  // What the lookup of that key found.
  WalkResult missing_walk_;
  // The write transaction.
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
  // Between HoldChanges and the next commit: nothing commits by itself.
  bool held_ = false;

  KeyCache key_cache_;
  // The names of the path of the last Walk, folded; their memory is kept.
  std::vector<std::string> folded_names_;
  // A value name folded, its memory kept.
  std::string folded_value_;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_STORE_H_
