// The registry store of this process: one SQLite connection, the open key
// handles, and the write transaction that collects changes between commits.
//
// Changes are collected in one write transaction, which is committed at the
// latest when a handle that made a change in it is closed or flushed, when
// the transaction has been open for a while and the next call comes, and when
// the process ends normally. A transaction whose changes cancel out (a value
// created and deleted again, as a write probe does) is rolled back instead,
// which costs nothing on disk.
#ifndef BREVLIN_PLATFORM_POSIX_STORE_H_
#define BREVLIN_PLATFORM_POSIX_STORE_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/posix/registry_store.h"
#include "platform/registry.h"

namespace plat {
namespace posix {

class Store {
 public:
  // The one store of this process. It commits what is pending when the
  // process ends normally.
  static Store& Instance();

  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // The seven registry functions.
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

  // Location and connection.
  std::string Path();
  void UsePath(const std::string& path);
  void SetWaitLimit(std::uint32_t milliseconds);
  Status Connect(std::string* detail);
  bool ReadOnly();
  // Whether the store can still take writes (see plat::RegistryState).
  Status State();

  // The owner's operations of registry_store.h.
  Status FindKey(RegKey key, const std::string& path, StoreKeyInfo* info);
  Status ListValues(RegKey key, const std::string& path, std::vector<StoreValue>* values);
  Status ListSubkeys(RegKey key, const std::string& path, std::vector<std::string>* names);
  Status ChangeKeyFlags(RegKey key, const std::string& path, std::uint32_t set,
                        std::uint32_t clear);
  Status DeleteTree(RegKey key, const std::string& path, bool even_protected);

 private:
  static constexpr int kRootCount = 5;

  struct Handle {
    std::int64_t key_id = 0;
    std::uint32_t access = 0;
    // The transaction in which a change was last made through this handle.
    std::uint64_t dirty_txn = 0;
  };

  // Prepared statements, kept for the life of the connection.
  enum StatementId {
    kBeginRead,
    kBegin,
    kCommit,
    kRollback,
    kFindChild,
    kInsertKey,
    kKeyById,
    kUpdateValue,
    kInsertValue,
    kFindValue,
    kDeleteValue,
    kListValues,
    kListSubkeys,
    kSetFlags,
    kProtectedBelow,
    kDeleteTreeValues,
    kDeleteTreeKeys,
    kStatementCount
  };

  Store();
  ~Store();

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
  // Whether `names` more levels below the key `base_id` stay within the
  // deepest a key may lie.
  Status CheckDepth(std::int64_t base_id, std::size_t names);

  Handle* Resolve(RegKey key);
  bool IsRoot(RegKey key) const;
  void MarkDirty(Handle* handle);

  // Reads of one call share one read transaction, which is much cheaper than
  // one per statement. A write transaction ends it first.
  class ReadScope;
  void BeginRead();
  void EndRead();
  Status Begin();
  Status Commit();
  void EndTransaction();

  // The keys looked up or created through this connection, so that a path
  // is not looked up name by name in the database every time. The cache
  // holds only while nothing but this connection changes the store; SQLite's
  // data version, read once a transaction has its snapshot, tells. Only key
  // ids and flags are kept, never values.
  struct CachedKey {
    std::int64_t id;
    std::uint32_t flags;
  };
  // Brings the cache in line with the snapshot of the transaction in hand:
  // empties it when another connection has changed the store since.
  void SyncKeyCache();
  void ForgetKeys();
  const CachedKey* CachedChild(std::int64_t parent, std::string_view name);
  void CacheChild(std::int64_t parent, std::string_view name, std::int64_t id, std::uint32_t flags);
  void CacheFlags(std::int64_t id, std::uint32_t flags);
  // Puts a key into the young generation under the name in cache_probe_.
  CachedKey& Remember(const CachedKey& key);
  std::uint32_t DataVersion();

  // Key lookups.
  Status LookupChild(std::int64_t parent, std::string_view name, std::int64_t* id,
                     std::uint32_t* flags, std::string* stored_name);
  Status KeyRow(std::int64_t id, std::int64_t* parent, std::uint32_t* flags);
  // Whether `id` or a key above it is protected; ERROR_KEY_DELETED when the
  // key is gone.
  Status ProtectedFrom(std::int64_t id, bool* is_protected);
  // The flags of a key that is about to change, checked once per transaction.
  Status VerifiedFlags(std::int64_t id, std::uint32_t* flags);
  Status MissingKeyStatus(std::int64_t id);
  // Follows `names` down from `base` as far as the keys exist: `found` of
  // them do, and `id` and `flags` are those of the last key reached (the
  // base itself when none is). ERROR_KEY_DELETED when the base is gone.
  // Runs inside a transaction; without `stored_path`, keys in the cache are
  // not looked up again.
  Status Walk(std::int64_t base, const std::vector<std::string_view>& names, std::size_t* found,
              std::int64_t* id, std::uint32_t* flags, bool* any_protected,
              std::uint32_t* base_flags, std::string* stored_path);
  // The part of Walk that asks the database, from `first` on.
  Status WalkInStore(std::int64_t base, const std::vector<std::string_view>& names,
                     std::size_t first, std::size_t* found, std::int64_t* id, std::uint32_t* flags,
                     bool* any_protected, std::uint32_t* base_flags, std::string* stored_path);
  // The statement that looks up a path of `depth` names at once; null for
  // paths deeper than kMaxChainDepth, which are looked up name by name.
  sqlite3_stmt* ChainStatement(std::size_t depth);
  // Whether the base of an open or create, or a key above it, is protected.
  Status BaseRefusesWrites(std::int64_t base_id, std::uint32_t base_flags, bool* refuses);
  Status Find(RegKey key, const std::string& path, std::int64_t* id, StoreKeyInfo* info);
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
  // A new handle to the key `key_id` with the given rights.
  RegKey AddHandle(std::int64_t key_id, std::uint32_t access);
  // Runs `take_row` on each row that `statement` answers for the key at
  // `path` below `key`, inside one read transaction.
  template <typename TakeRow>
  Status ListRows(RegKey key, const std::string& path, StatementId statement, TakeRow take_row);
  std::string PathLocked() const;

  sqlite3_stmt* Statement(StatementId id) { return statements_[id]; }
  Status StepDone(sqlite3_stmt* stmt);

  std::mutex mutex_;
  std::string path_override_;
  std::uint32_t wait_limit_ms_ = 15000;

  sqlite3* db_ = nullptr;
  std::string db_path_;
  bool read_only_ = false;
  sqlite3_stmt* statements_[kStatementCount] = {};
  static constexpr std::size_t kMaxChainDepth = 16;
  std::vector<sqlite3_stmt*> chain_statements_;

  std::unordered_map<RegKey, Handle> handles_;
  Handle roots_[kRootCount];
  RegKey next_handle_ = 0x100;

  bool in_read_ = false;
  // Set when a commit of changes failed: every later change is refused with
  // it.
  Status lost_changes_ = kErrorSuccess;
  // Set when the store failed as a whole (busy past the wait limit, disk full,
  // damaged, replaced): every later change is refused with it.
  Status trouble_ = kErrorSuccess;
  // How the last attempt to open the store ended.
  Status open_status_ = kErrorSuccess;
  // The time this process has waited for other processes' locks, in all: the
  // wait limit holds for the whole run, not for each call.
  std::chrono::steady_clock::duration waited_{};
  // The file the connection opened.
  dev_t store_device_ = 0;
  ino_t store_inode_ = 0;
  std::set<std::string> noted_;
  // The key that the last call failed to open because it is missing.
  RegKey missing_base_ = kNullKey;
  std::string missing_path_;
  // What the lookup of that key found.
  struct WalkResult {
    std::size_t found = 0;
    std::int64_t id = 0;
    std::uint32_t flags = 0;
    bool any_protected = false;
    std::uint32_t base_flags = 0;
    std::uint64_t key_epoch = 0;  // key_epoch_ when it was found
  };
  WalkResult missing_walk_;
  // The write transaction.
  bool in_txn_ = false;
  std::uint64_t txn_id_ = 1;
  std::chrono::steady_clock::time_point txn_start_;
  // Changes that cannot cancel out, and values created in this transaction
  // (key id and name folded to lower case): deleting one of those again
  // cancels its creation.
  std::uint64_t lasting_changes_ = 0;
  std::set<std::pair<std::int64_t, std::string>> fresh_values_;
  // Keys whose existence and flags were read in this transaction.
  std::unordered_map<std::int64_t, std::uint32_t> verified_keys_;
  // Whether this transaction created keys or changed their flags.
  bool keys_changed_ = false;

  // The key cache, by parent id and name folded to lower case, and the data
  // version it was last brought in line with. It holds two generations of
  // at most kKeyCacheGeneration keys each: when the young one is full it
  // becomes the old one, and the keys of the old one that are used again
  // move back into the young one. Keys in use (the parents of many keys)
  // stay while memory stays bounded whatever the size of the store.
  static constexpr std::size_t kKeyCacheGeneration = 1024;
  std::unordered_map<std::string, CachedKey> key_cache_;
  std::unordered_map<std::string, CachedKey> old_key_cache_;
  // The flags of the keys in the cache and of the keys walked from, by id.
  std::unordered_map<std::int64_t, std::uint32_t> cached_flags_;
  // Counts the times the cache was emptied: what was looked up in one epoch
  // holds for the whole epoch.
  std::uint64_t key_epoch_ = 0;
  std::string cache_probe_;
  std::uint32_t cache_version_ = 0;
  bool cache_synced_ = false;
};

}  // namespace posix
}  // namespace plat

#endif  // BREVLIN_PLATFORM_POSIX_STORE_H_
