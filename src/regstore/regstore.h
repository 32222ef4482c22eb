// The registry store: an SQLite database that stands in for the Windows
// registry on Linux. This is the one header that code outside src/regstore
// includes.
//
// What the store promises:
// - Transactions: changes are collected in one write transaction of the
//   process and committed in groups: once a group is 50 ms old or has
//   changed 1,000 keys, at the first moment when no handle that made a change
//   in it is open (at a close, at the next call, or, when no call comes, by
//   itself); before the program reads a file, shows a message or sleeps
//   (FlushPendingWrites); at a flush; when the process ends normally; and at
//   the end of each owner's operation (flags, delete tree); while changes
//   are held (HoldChanges), only when asked. A commit makes all of it visible
//   at once; a transaction whose changes cancel out is rolled back instead.
//   The write lock is held only while a group is written.
// - Names: key and value names compare without regard to ASCII letter case
//   and keep the case they were created with.
// - Durability: a commit survives the process being killed; it is forced to
//   the disk (and so survives a power cut) only by a flush or CommitToDisk.
//   A close no longer commits by itself: a change is in the store once its
//   group is committed, at most 50 ms or 1,000 keys after it was made, before
//   any message, and at the end. A kill loses at most the group in hand,
//   never part of one: the values written through one handle between its
//   open and its close are committed together (unless the program waits
//   while it holds the handle open). An import tells by "Loading" whether it
//   finished.
// - Readers: another process sees an import's changes only as they are
//   committed, never half a commit; a reader is never blocked by a writer.
// - Memory: a connection keeps at most 16 MiB of the store's pages, and a
//   walk reads one row at a time, so memory does not grow with the store.
// - Waits: a call that needs the write lock while another process holds it
//   waits up to the wait limit (SetStoreWaitLimit), then fails with
//   ERROR_BUSY.
//
// Keys are addressed by a root key (or an open key handle) and a path below
// it, as RegOpenKeyExA takes them. The owner's operations (find, list,
// flags, delete tree) act as the store's owner, so a protected key can still
// be listed, changed and unprotected. Everything answers Win32 status codes
// like the registry functions.
#ifndef BREVLIN_REGSTORE_REGSTORE_H_
#define BREVLIN_REGSTORE_REGSTORE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "regdefs/keys.h"
#include "regdefs/status.h"
#include "regdefs/value_types.h"
#include "regstore/names.h"

namespace regstore {

using regdefs::RegKey;
using regdefs::Status;

// Key flags.
// A protected key refuses write access to itself and to every key below it.
constexpr std::uint32_t kKeyProtected = 1;
// A key whose values are locked opens with any rights, but refuses to set or
// delete its values.
constexpr std::uint32_t kKeyValuesLocked = 2;

// The store file named by the environment: $REGSTORE when it is set and not
// empty; otherwise $XDG_DATA_HOME/regstore/registry.db, with
// ~/.local/share in place of $XDG_DATA_HOME when that is unset or not an
// absolute path.
std::string DefaultStorePath();

// The store file this process uses.
std::string StorePath();

// Points this process at another store file ("" for the one the environment
// names). Pending changes are committed first; every open key handle is
// closed.
void UseStorePath(const std::string& path);

// How long this process waits, in all, for other processes that hold the
// store's write lock, in milliseconds (15 seconds unless set). The wait is
// for the whole run, not for each call: once it is used up the store counts
// as busy, and every later change fails with ERROR_BUSY at once.
void SetStoreWaitLimit(std::uint32_t milliseconds);

// Opens the store if it is not open yet. On failure `detail`, when given,
// receives a readable reason.
Status ConnectStore(std::string* detail);

// Whether the store refuses every write (its file is not writable, or
// belongs to another user).
bool StoreIsReadOnly();

// Whether the store can still take writes: ERROR_SUCCESS, or why not
// (ERROR_BUSY, ERROR_DISK_FULL, ERROR_IO_DEVICE, ERROR_WRITE_PROTECT,
// ERROR_BADDB for a file that is not a store or was replaced, or the reason
// it could not be opened). The registry's RegistryState answers this on
// Linux.
Status StoreState();

struct StoreValue {
  std::string name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

struct StoreKeyInfo {
  std::uint32_t flags = 0;
  // The path as stored, with the case of each name as it was created, and
  // without empty components.
  std::string path;
};

// Finds the key at `path` below `key`.
Status StoreFindKey(RegKey key, const std::string& path, StoreKeyInfo* info);
// The values of a key in the order in which they were created.
Status StoreListValues(RegKey key, const std::string& path, std::vector<StoreValue>* values);
// The names of a key's subkeys, sorted without regard to ASCII letter case.
Status StoreListSubkeys(RegKey key, const std::string& path, std::vector<std::string>* names);
// One value as a walk of the store shows it; valid only during the call.
struct StoreValueView {
  std::string_view name;
  std::uint32_t type;
  const std::uint8_t* data;
  std::size_t size;
};

// What a walk of the store calls, key by key. Each method answers false to
// stop the walk. The store is held during the calls: a visitor must not call
// the store itself.
class StoreVisitor {
 public:
  virtual ~StoreVisitor() = default;
  // A key, by its path below the root as stored, before its values.
  virtual bool Key(const std::string& path) = 0;
  virtual bool Value(const StoreValueView& value) = 0;
  // A subkey's name, when the walk does not go into the subkeys.
  virtual bool Subkey(std::string_view name) = 0;
};

// Walks the key at `path` below `key`, in one read snapshot of the store:
// the key, its values in the order they were created, then either the names
// of its subkeys (sorted as StoreListSubkeys sorts them) or, with
// `recursive`, each subkey in that order, depth first. Rows are read one at
// a time: memory does not grow with the number of keys or values.
Status StoreWalk(RegKey key, const std::string& path, bool recursive, StoreVisitor* visitor);
// The values of one key, one at a time, in the order they were created.
Status StoreForEachValue(RegKey key, const std::string& path,
                         const std::function<bool(const StoreValueView&)>& visit);
// The names of one key's subkeys, one at a time, sorted.
Status StoreForEachSubkey(RegKey key, const std::string& path,
                          const std::function<bool(std::string_view)>& visit);
// Sets the flags in `set` and clears those in `clear` on one key.
Status StoreChangeKeyFlags(RegKey key, const std::string& path, std::uint32_t set,
                           std::uint32_t clear);
// Deletes a key with everything below it; for a root key, everything below
// it and its values. Without `even_protected` a protected key at, above or
// below the path refuses with ERROR_ACCESS_DENIED.
Status StoreDeleteTree(RegKey key, const std::string& path, bool even_protected);

// The seven registry functions, as RegOpenKeyExA and its kin take them (the
// arguments that the store ignores left out).
Status OpenKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result);
Status CreateKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result,
                 std::uint32_t* disposition);
Status SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                std::uint32_t size);
Status QueryValue(RegKey key, const char* name, const std::uint32_t* reserved, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* size);
Status DeleteValue(RegKey key, const char* name);
[[nodiscard]] Status FlushKey(RegKey key);
[[nodiscard]] Status CloseKey(RegKey key);

// Commits the changes that this process holds back now (FlushPendingWrites).
// Answers the failure of this commit or of an earlier one of this run that
// lost changes.
[[nodiscard]] Status CommitPending();

// Commits what is pending, then keeps every change of this process from now
// on in one transaction, so that a command's changes are stored whole or not
// at all: no group is committed by itself, nor at the end of an owner's
// operation. Only CommitToDisk (or CommitPending, or a flush) commits it;
// DiscardChanges drops it, and so does the end of the process.
void HoldChanges();
// Drops what this process has changed since the last commit, and ends a
// hold.
void DiscardChanges();
// Commits what this process holds back, ends a hold, and forces the store to
// the disk, so that the changes survive a power cut. Answers
// ERROR_SUCCESS only when every change of this run is in the store and on
// the disk: otherwise the failure of this commit, of the sync, or of an
// earlier commit of this run that lost changes.
[[nodiscard]] Status CommitToDisk();

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_REGSTORE_H_
