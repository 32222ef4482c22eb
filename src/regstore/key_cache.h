// The keys looked up or created through the store's connection, so that a
// path is not looked up name by name in the database every time. The cache
// holds only while nothing but this connection changes the store; SQLite's
// data version, read once a transaction has its snapshot, tells. Only key
// ids and flags are kept, never values.
#ifndef BREVLIN_REGSTORE_KEY_CACHE_H_
#define BREVLIN_REGSTORE_KEY_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace regstore {

class KeyCache {
 public:
  struct Entry {
    std::int64_t id;
    std::uint32_t flags;
  };

  // Brings the cache in line with the snapshot whose data version is
  // `version`: empties it when another connection has changed the store
  // since.
  void Sync(std::uint32_t version);
  // Records that the cache matches the store at `version` (a transaction of
  // this connection moved the version on), when it was in line before.
  void KeepInLine(std::uint32_t version) {
    if (synced_)
      version_ = version;
  }
  // Forgets that the cache was ever in line (the connection closed).
  void Unsync() { synced_ = false; }
  // Empties the cache and starts a new epoch.
  void Forget();
  // Counts the times the cache was emptied: what was looked up in one epoch
  // holds for the whole epoch.
  std::uint64_t epoch() const { return epoch_; }

  // The key whose folded name (FoldName) is `folded` below `parent`; null
  // when the cache does not know.
  const Entry* Child(std::int64_t parent, std::string_view folded);
  void AddChild(std::int64_t parent, std::string_view folded, std::int64_t id, std::uint32_t flags);
  // The flags of a key in the cache or walked from; null when unknown.
  const std::uint32_t* Flags(std::int64_t id) const;
  void SetFlags(std::int64_t id, std::uint32_t flags);

 private:
  // Puts a key into the young generation under the name in probe_.
  Entry& Remember(const Entry& key);

  // The keys by parent id and folded name. The cache holds two generations
  // of at most kGeneration keys each: when the young one is full it becomes
  // the old one, and the keys of the old one that are used again move back
  // into the young one. Keys in use (the parents of many keys) stay while
  // memory stays bounded whatever the size of the store.
  static constexpr std::size_t kGeneration = 1024;
  std::unordered_map<std::string, Entry> young_;
  std::unordered_map<std::string, Entry> old_;
  // The flags of the keys in the cache and of the keys walked from, by id.
  std::unordered_map<std::int64_t, std::uint32_t> flags_;
  std::uint64_t epoch_ = 0;
  std::string probe_;
  std::uint32_t version_ = 0;
  bool synced_ = false;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_KEY_CACHE_H_
