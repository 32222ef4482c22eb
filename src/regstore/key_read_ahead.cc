#include "regstore/key_read_ahead.h"

#include <limits>
#include <string_view>

#include "regstore/database.h"

namespace regstore {

KeyReadAhead::KeyReadAhead(sqlite3_stmt* names, sqlite3_stmt* spans, std::size_t block,
                           std::size_t capacity)
    : names_(names), spans_(spans), block_(block == 0 ? 1 : block), capacity_(capacity) {}

int KeyReadAhead::Take(std::int64_t id, KeyRow* row) {
  ++takes_;
  auto it = rows_.find(id);
  if (it != rows_.end()) {
    ++hits_;
    *row = std::move(it->second);
    rows_.erase(it);
    return SQLITE_OK;
  }
  const bool full = rows_.size() + block_ > capacity_;
  if (full && takes_ >= 4 * block_ && hits_ < takes_ / 4) {
    // Rows read ahead for keys the walk never meets (keys outside the tree
    // walked, or met before they were read again) stay until they are
    // forgotten: when they fill the room and few takes find theirs, all are.
    // While the takes find theirs, a full room only stops the reading ahead
    // until the walk has taken rows out again: forgetting rows that are
    // still to be met would read them again and again.
    rows_.clear();
    takes_ = 0;
    hits_ = 0;
  } else if (takes_ >= capacity_) {
    takes_ = 0;
    hits_ = 0;
  }
  const auto step = static_cast<std::int64_t>(rows_.size() + block_ <= capacity_ ? block_ : 1);
  const std::int64_t end = id > std::numeric_limits<std::int64_t>::max() - step
                               ? std::numeric_limits<std::int64_t>::max()
                               : id + step;
  return Read(id, end, row);
}

int KeyReadAhead::Read(std::int64_t id, std::int64_t end, KeyRow* row) {
  ++reads_;
  bool found = false;
  int rc;
  {
    StatementUse names(names_);
    sqlite3_bind_int64(names_, 1, id);
    sqlite3_bind_int64(names_, 2, end);
    while ((rc = sqlite3_step(names_)) == SQLITE_ROW) {
      const std::int64_t other = sqlite3_column_int64(names_, 0);
      if (other == id) {
        row->name = ColumnView(names_, 1);
        row->first_value = 0;
        row->value_count = 0;
        found = true;
        continue;
      }
      auto [it, made] = rows_.try_emplace(other);
      if (made)
        it->second.name = ColumnView(names_, 1);
    }
    if (rc != SQLITE_DONE)
      return rc;
  }
  if (!found)
    return SQLITE_CORRUPT;
  if (spans_ == nullptr)
    return SQLITE_OK;
  StatementUse spans(spans_);
  sqlite3_bind_int64(spans_, 1, id);
  sqlite3_bind_int64(spans_, 2, end);
  while ((rc = sqlite3_step(spans_)) == SQLITE_ROW) {
    const std::int64_t other = sqlite3_column_int64(spans_, 0);
    KeyRow* target = row;
    if (other != id) {
      auto it = rows_.find(other);
      if (it == rows_.end())
        continue;
      target = &it->second;
    }
    target->first_value = sqlite3_column_int64(spans_, 1);
    target->value_count = sqlite3_column_int64(spans_, 2);
  }
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace regstore
