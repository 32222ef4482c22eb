#include "regstore/handles.h"

namespace regstore {

HandleTable::HandleTable() {
  for (std::size_t i = 0; i < regdefs::kRootKeyCount; ++i) {
    roots_[i].key_id = kFirstRootId + static_cast<std::int64_t>(i);
    roots_[i].access = regdefs::kKeyAllAccess;
  }
}

KeyHandle* HandleTable::Find(RegKey key) {
  if (key == regdefs::kNullKey)
    return nullptr;
  const std::size_t root = regdefs::RootKeyIndex(key);
  if (root < regdefs::kRootKeyCount)
    return &roots_[root];
  auto it = open_.find(key);
  return it == open_.end() ? nullptr : &it->second;
}

RegKey HandleTable::Add(std::int64_t key_id, std::uint32_t access) {
  const RegKey handle = next_;
  next_ += 4;
  open_[handle] = KeyHandle{key_id, access, 0};
  return handle;
}

void HandleTable::Remove(RegKey key) {
  if (!IsRoot(key))
    open_.erase(key);
}

bool HandleTable::IsRoot(RegKey key) {
  return regdefs::RootKeyByHandle(key) != nullptr;
}

}  // namespace regstore
