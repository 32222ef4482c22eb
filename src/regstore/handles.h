// The open key handles of the store: the five predefined root keys, which
// are never opened or closed, and the handles that opens and creates hand
// out, each naming a key by its id with the rights it was opened with.
// Handle values are never given twice in a run, so a closed handle stays
// invalid.
#ifndef BREVLIN_REGSTORE_HANDLES_H_
#define BREVLIN_REGSTORE_HANDLES_H_

#include <cstdint>
#include <unordered_map>

#include "regdefs/root_keys.h"
#include "regstore/regstore.h"
#include "regstore/schema.h"

namespace regstore {

struct KeyHandle {
  std::int64_t key_id = 0;
  std::uint32_t access = 0;
  // The transaction in which a change was last made through this handle.
  std::uint64_t dirty_txn = 0;
};

class HandleTable {
 public:
  HandleTable();

  // The handle `key`, a root key's or an open one's; null when it is neither.
  KeyHandle* Find(RegKey key);
  // A new handle to the key `key_id` with the given rights.
  RegKey Add(std::int64_t key_id, std::uint32_t access);
  // Closes an open handle; a root key's stays.
  void Remove(RegKey key);
  // Closes every open handle.
  void Clear() { open_.clear(); }

  static bool IsRoot(RegKey key);
  bool IsRoot(const KeyHandle* handle) const {
    return handle >= roots_ && handle < roots_ + regdefs::kRootKeyCount;
  }

 private:
  std::unordered_map<RegKey, KeyHandle> open_;
  KeyHandle roots_[regdefs::kRootKeyCount];
  RegKey next_ = 0x100;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_HANDLES_H_
