#include "regstore/key_cache.h"

namespace regstore {

namespace {

// The cache's key for a name below a parent: the parent id's bytes, then the
// folded name.
void CacheKeyOf(std::int64_t parent, std::string_view folded, std::string* key) {
  key->assign(reinterpret_cast<const char*>(&parent), sizeof(parent));
  key->append(folded);
}

}  // namespace

void KeyCache::Sync(std::uint32_t version) {
  if (!synced_ || version != version_)
    Forget();
  version_ = version;
  synced_ = true;
}

void KeyCache::Forget() {
  young_.clear();
  old_.clear();
  flags_.clear();
  ++epoch_;
}

const KeyCache::Entry* KeyCache::Child(std::int64_t parent, std::string_view folded) {
  CacheKeyOf(parent, folded, &probe_);
  auto it = young_.find(probe_);
  if (it != young_.end())
    return &it->second;
  auto old = old_.find(probe_);
  if (old == old_.end())
    return nullptr;
  const Entry key = old->second;
  old_.erase(old);
  return &Remember(key);
}

void KeyCache::AddChild(std::int64_t parent, std::string_view folded, std::int64_t id,
                        std::uint32_t flags) {
  if (!synced_)
    return;
  CacheKeyOf(parent, folded, &probe_);
  old_.erase(probe_);
  Remember(Entry{id, flags});
  SetFlags(id, flags);
}

const std::uint32_t* KeyCache::Flags(std::int64_t id) const {
  auto it = flags_.find(id);
  return it == flags_.end() ? nullptr : &it->second;
}

void KeyCache::SetFlags(std::int64_t id, std::uint32_t flags) {
  if (!synced_)
    return;
  if (flags_.size() >= 2 * kGeneration)
    flags_.clear();
  flags_[id] = flags;
}

KeyCache::Entry& KeyCache::Remember(const Entry& key) {
  if (young_.size() >= kGeneration) {
    old_.swap(young_);
    young_.clear();
  }
  return young_[probe_] = key;
}

}  // namespace regstore
