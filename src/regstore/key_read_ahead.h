// Rows of keys read ahead by id, for a walk of the tree in name order.
//
// Keys made in turns below several parents (one key below each parent, then
// the next below each) lie in the tables in the order they were made: the
// keys a walk meets one after the other, the siblings below one parent, lie
// far apart, and the keys that lie beside each of them are met later, in the
// walks of the next parents. Reading a key's row and the rows of the keys
// made next after it costs little more than reading the one: their pages are
// at hand. Kept as names and numbers (a few dozen bytes a key, where the
// pages that hold them take 2 KiB each), they leave SQLite's page cache to
// the pages of the values, which the walk of the next parent reads again.
#ifndef BREVLIN_REGSTORE_KEY_READ_AHEAD_H_
#define BREVLIN_REGSTORE_KEY_READ_AHEAD_H_

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace regstore {

// What a walk needs of a key before it visits it: its name and where its
// values lie (the smallest row id of its values and how many there are).
struct KeyRow {
  std::string name;
  std::int64_t first_value = 0;
  std::int64_t value_count = 0;
};

class KeyReadAhead {
 public:
  // A read takes the rows of this many ids from the one asked for on.
  static constexpr std::size_t kBlock = 16;
  // Rows kept at most, about 5 MiB: enough for keys made in turns below
  // 300 parents with 3,000 keys each.
  static constexpr std::size_t kCapacity = std::size_t{1} << 16;

  // `names` answers id and name of the keys with ids in [?1, ?2); `spans`,
  // when given, key id, smallest value id and value count of the keys with
  // values and ids in that range.
  KeyReadAhead(sqlite3_stmt* names, sqlite3_stmt* spans, std::size_t block = kBlock,
               std::size_t capacity = kCapacity);

  // Moves the row of the key `id` into `row`: the one read ahead, or one
  // read now, with the next ones when there is room for them. A walk meets
  // each key once, so the row is not kept. Answers an SQLite result code
  // (SQLITE_CORRUPT for a key that has no row).
  int Take(std::int64_t id, KeyRow* row);

  // Rows kept now, and the reads made so far.
  std::size_t size() const { return rows_.size(); }
  std::uint64_t reads() const { return reads_; }

 private:
  int Read(std::int64_t id, std::int64_t end, KeyRow* row);

  sqlite3_stmt* names_;
  sqlite3_stmt* spans_;
  std::size_t block_;
  std::size_t capacity_;
  std::unordered_map<std::int64_t, KeyRow> rows_;
  // Takes, and those answered from rows_, since the last look at them.
  std::size_t takes_ = 0;
  std::size_t hits_ = 0;
  std::uint64_t reads_ = 0;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_KEY_READ_AHEAD_H_
