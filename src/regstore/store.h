// The registry store of this process, the one object behind regstore.h. It
// holds the one mutex of the store and composes the objects that each own a
// part of its state:
//   StoreConnection  (connection.h)  the SQLite connection and its file: the
//                    path, opening, making and setting up the file, read-only,
//                    the wait for other processes' locks, a file replaced
//                    under it, failures of the store as a whole, the notes
//                    printed once, the sync to disk; and the read
//                    transaction of one call (ReadScope);
//   KeyLookup        (key_lookup.h)  finding keys: walks down a path through
//                    the key cache and the database, key rows, protection
//                    above a key, the key a failed open found missing;
//   WriteGroups      (write_groups.h) the write transaction and its groups:
//                    when a group is due and commits, what changed in it,
//                    held and lost changes, the thread that commits a due
//                    group while no call comes (it takes the store's mutex);
//   HandleTable      (handles.h)     the open key handles.
// Store itself checks the arguments of each call, takes the mutex and leads
// each operation through these objects; its functions are defined by
// concern, each group in the file named beside it.
#ifndef BREVLIN_REGSTORE_STORE_H_
#define BREVLIN_REGSTORE_STORE_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "regstore/connection.h"
#include "regstore/database.h"
#include "regstore/handles.h"
#include "regstore/key_lookup.h"
#include "regstore/regstore.h"
#include "regstore/write_groups.h"

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
  // Commits the group in hand now (store_control.cc).
  Status CommitPending();
  // See regstore.h.
  void HoldChanges();
  void DiscardChanges();
  Status CommitToDisk();
  // When a group is due: its age and its number of keys (kGroupAge and
  // kGroupKeys unless changed, as tests do).
  void SetGroupLimits(std::chrono::milliseconds age, std::uint64_t keys);

  // Location and connection (store_control.cc).
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
  using Handle = KeyHandle;

  Store();
  ~Store();

  // --- store_control.cc ---
  // Every call begins here: opens the store when needed and commits a
  // group that is due.
  Status Enter();
  // Closes the connection, and with it the write transaction; what the key
  // lookups know goes too.
  void Disconnect();

  // --- store.cc: handles ---
  Handle* Resolve(RegKey key);
  // The handle `key`, when it may set and delete values.
  Status ResolveForValueChange(RegKey key, Handle** handle);
  void MarkDirty(Handle* handle) { groups_.MarkDirty(handle, handles_.IsRoot(handle)); }

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
  // Begins a change of the values of the key behind `handle`, opened as
  // `key`: the write transaction, and the key's own refusal of value changes
  // (its values locked, or a protected root key).
  Status BeginValueChange(RegKey key, const Handle& handle);

  // --- admin.cc ---
  Status Find(RegKey key, const std::string& path, std::int64_t* id, StoreKeyInfo* info);
  // Finds the key at `path` below `key` in one read snapshot of the store
  // and, when `use` is given, runs it on the key's id in the same snapshot.
  Status ReadKey(RegKey key, const std::string& path, StoreKeyInfo* info,
                 const std::function<Status(std::int64_t id)>& use);
  // Begins an owner's change of the key at `path` below `key`.
  Status BeginOwnerChange(RegKey key, const std::string& path, std::int64_t* id);
  // Ends an owner's change: commits it, or rolls it back after a failure.
  Status EndOwnerChange(Status status);
  // Whether the key `id`, a key above or a key below it is protected.
  Status TreeIsProtected(std::int64_t id, bool* is_protected);

  sqlite3_stmt* Statement(StatementId id) { return connection_.Statement(id); }

  // Guards everything below; the committer thread of the write groups takes
  // it too.
  std::mutex mutex_;
  StoreConnection connection_;
  KeyLookup lookup_{&connection_};
  WriteGroups groups_{&mutex_, &connection_, &lookup_};
  HandleTable handles_;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_STORE_H_
