// How the store finds keys: a path of names below a key, followed through
// the key cache as far as it goes and then through the database (a whole
// path in one statement where it can); the rows of single keys; whether a
// key or one above it is protected. It keeps the cache, the names of the
// last path folded, and the key that the last open found missing, which a
// create of the same key that follows can take as it is.
#ifndef BREVLIN_REGSTORE_KEY_LOOKUP_H_
#define BREVLIN_REGSTORE_KEY_LOOKUP_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regstore/connection.h"
#include "regstore/key_cache.h"
#include "regstore/regstore.h"

namespace regstore {

class KeyLookup {
 public:
  explicit KeyLookup(StoreConnection* connection) : connection_(*connection) {}
  KeyLookup(const KeyLookup&) = delete;
  KeyLookup& operator=(const KeyLookup&) = delete;

  KeyCache& cache() { return key_cache_; }

  // What a walk down a path finds, and when.
  struct WalkResult {
    std::size_t found = 0;
    std::int64_t id = 0;
    std::uint32_t flags = 0;
    bool any_protected = false;
    std::uint32_t base_flags = 0;
    std::uint64_t key_epoch = 0;  // the cache's epoch when it was found
  };
  // Follows `names` down from `base` as far as the keys exist: `found` of
  // them do, and `id` and `flags` are those of the last key reached (the
  // base itself when none is). ERROR_KEY_DELETED when the base is gone.
  // Runs inside a transaction. Leaves the folded names for folded_name.
  Status WalkFrom(std::int64_t base, const std::vector<std::string_view>& names, WalkResult* walk);
  // The i-th name of the last walk, folded.
  const std::string& folded_name(std::size_t i) const { return folded_names_[i]; }

  // Finds the key at `path` below the key `base` without the cache, with
  // the path as stored; ERROR_FILE_NOT_FOUND when it is missing.
  Status FindPath(std::int64_t base, const std::string& path, std::int64_t* id, StoreKeyInfo* info);

  Status LookupChild(std::int64_t parent, std::string_view folded, std::int64_t* id,
                     std::uint32_t* flags, std::string* stored_name);
  Status KeyRow(std::int64_t id, std::int64_t* parent, std::uint32_t* flags);
  // Whether `id` or a key above it is protected; ERROR_KEY_DELETED when the
  // key is gone.
  Status ProtectedFrom(std::int64_t id, bool* is_protected);
  // Whether the base of an open or create, or a key above it, is protected.
  Status BaseRefusesWrites(std::int64_t base_id, std::uint32_t base_flags, bool* refuses);
  // ERROR_FILE_NOT_FOUND for something missing in the key `id`, or why the
  // key itself is not there.
  Status MissingKeyStatus(std::int64_t id);
  // Whether `names` more levels below the key `base_id` stay within the
  // deepest a key may lie.
  Status CheckDepth(std::int64_t base_id, std::size_t names);

  // A value name folded, in memory kept from one call to the next.
  const std::string& FoldValueName(std::string_view name);

  // The key that the last call failed to open because it is missing: the
  // base, the sub-path and what the walk found.
  void RememberMissing(RegKey base, const char* sub_key, const WalkResult& walk);
  bool IsRememberedMissing(RegKey base, const char* sub_key) const {
    return missing_base_ == base && missing_path_ == sub_key;
  }
  const WalkResult& missing_walk() const { return missing_walk_; }
  void ForgetMissing() { missing_base_ = regdefs::kNullKey; }

 private:
  // Walk; without `stored_path`, keys in the cache are not looked up again.
  Status Walk(std::int64_t base, const std::vector<std::string_view>& names, std::size_t* found,
              std::int64_t* id, std::uint32_t* flags, bool* any_protected,
              std::uint32_t* base_flags, std::string* stored_path);
  // The part of Walk that asks the database, from `first` on.
  Status WalkInStore(std::int64_t base, const std::vector<std::string_view>& names,
                     std::size_t first, std::size_t* found, std::int64_t* id, std::uint32_t* flags,
                     bool* any_protected, std::uint32_t* base_flags, std::string* stored_path);

  StoreConnection& connection_;
  KeyCache key_cache_;
  // The names of the path of the last Walk, folded; their memory is kept.
  std::vector<std::string> folded_names_;
  std::string folded_value_;
  RegKey missing_base_ = regdefs::kNullKey;
  std::string missing_path_;
  WalkResult missing_walk_;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_KEY_LOOKUP_H_
