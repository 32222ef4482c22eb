// The registry store: where it lives, and the operations beyond the seven
// registry functions that the store's own tools need (listing, protecting,
// locking and deleting keys).
//
// The store is an SQLite database. Each process keeps one connection to it,
// opened on first use. Keys are addressed here by a root key (or an open key
// handle) and a path below it, as RegOpenKeyExA takes them; these operations
// act as the store's owner, so a protected key can still be listed, changed
// and unprotected. They answer Win32 status codes like the registry
// functions.
#ifndef BREVLIN_PLATFORM_POSIX_REGISTRY_STORE_H_
#define BREVLIN_PLATFORM_POSIX_REGISTRY_STORE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace plat {
namespace posix {

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

// How long a registry call waits for another process that holds the store's
// write lock before it fails with ERROR_BUSY, in milliseconds.
void SetStoreWaitLimit(std::uint32_t milliseconds);

// Opens the store if it is not open yet. On failure `detail`, when given,
// receives a readable reason.
Status ConnectStore(std::string* detail);

// Whether the store refuses every write (its file is not writable).
bool StoreIsReadOnly();

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
// Sets the flags in `set` and clears those in `clear` on one key.
Status StoreChangeKeyFlags(RegKey key, const std::string& path, std::uint32_t set,
                           std::uint32_t clear);
// Deletes a key with everything below it; for a root key, everything below
// it and its values. Without `even_protected` a protected key at, above or
// below the path refuses with ERROR_ACCESS_DENIED.
Status StoreDeleteTree(RegKey key, const std::string& path, bool even_protected);

}  // namespace posix
}  // namespace plat

#endif  // BREVLIN_PLATFORM_POSIX_REGISTRY_STORE_H_
