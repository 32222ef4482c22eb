// Walks of the store that read as they go: each level of the tree keeps one
// statement stepped a row at a time, so memory stays the same however many
// keys and values there are.
#include <memory>

#include "regstore/key_read_ahead.h"
#include "regstore/store.h"

namespace regstore {

using namespace regdefs;

namespace {

struct FinalizeStatement {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using OwnedStatement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

class TreeWalker {
 public:
  struct Statements {
    // Where the values of one key begin and how many there are.
    sqlite3_stmt* span;
    // The value table's rows from a row id on, and a key's values after a
    // row id wherever they lie.
    sqlite3_stmt* run;
    sqlite3_stmt* rest;
    // Names and value spans of the keys in a range of ids, and the largest
    // id that any key has as its parent.
    sqlite3_stmt* names;
    sqlite3_stmt* spans;
    sqlite3_stmt* last_parent;
  };

  TreeWalker(sqlite3* db, const Statements& sql, StoreVisitor* visitor, bool recursive,
             bool values)
      : db_(db),
        sql_(sql),
        visitor_(*visitor),
        recursive_(recursive),
        values_(values),
        ahead_(sql.names, values ? sql.spans : nullptr) {}

  // Visits the key `id` at `path` and, when recursive, every key below it;
  // answers an SQLite result code.
  int Walk(std::int64_t id, std::string* path) {
    Span span;
    if (values_) {
      StatementUse query(sql_.span);
      sqlite3_bind_int64(sql_.span, 1, id);
      const int rc = sqlite3_step(sql_.span);
      if (rc != SQLITE_ROW)
        return rc;
      span = {sqlite3_column_int64(sql_.span, 0), sqlite3_column_int64(sql_.span, 1)};
    }
    if (recursive_) {
      // Most keys of a large tree have no subkeys; those made after the
      // last key that has any need not be asked.
      StatementUse query(sql_.last_parent);
      const int rc = sqlite3_step(sql_.last_parent);
      if (rc != SQLITE_ROW)
        return rc;
      last_parent_ = sqlite3_column_int64(sql_.last_parent, 0);
    }
    return Visit(id, span, path, 0);
  }

 private:
  // The smallest row id of a key's values and how many there are.
  struct Span {
    std::int64_t first = 0;
    std::int64_t count = 0;
  };

  int Visit(std::int64_t id, const Span& span, std::string* path, std::size_t depth) {
    if (!visitor_.Key(*path))
      return Stop();
    if (values_) {
      const int rc = VisitValues(id, span);
      if (rc != SQLITE_OK || stopped_)
        return rc;
    }
    if (recursive_ && id > last_parent_)
      return SQLITE_OK;
    sqlite3_stmt* subkeys = nullptr;
    int rc = SubkeyStatement(depth, &subkeys);
    if (rc != SQLITE_OK)
      return rc;
    StatementUse use(subkeys);
    sqlite3_bind_int64(subkeys, 1, id);
    KeyRow row;
    while ((rc = sqlite3_step(subkeys)) == SQLITE_ROW) {
      if (!recursive_) {
        if (!visitor_.Subkey(ColumnView(subkeys, 1)))
          return Stop();
        continue;
      }
      // The subkey statement reads the index alone; the name and the values'
      // span come with those of the keys made next.
      const std::int64_t child = sqlite3_column_int64(subkeys, 0);
      rc = ahead_.Take(child, &row);
      if (rc != SQLITE_OK)
        return rc;
      const std::size_t length = path->size();
      if (!path->empty())
        *path += '\\';
      path->append(row.name);
      rc = Visit(child, {row.first_value, row.value_count}, path, depth + 1);
      path->resize(length);
      if (rc != SQLITE_OK || stopped_)
        return rc;
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }

  // Visits the values of the key `id` in the order they were made (the order
  // of their row ids). The values a key gets in one import lie side by side
  // in the table, so they are read as one run of the table from the first
  // of them: no sort and no lookup per row. Where the run meets a row of
  // another key before the last value, the rest are looked up one by one in
  // row id order; no more than one row of another key is ever read.
  int VisitValues(std::int64_t id, const Span& span) {
    if (span.count == 0)
      return SQLITE_OK;
    std::int64_t last = span.first - 1;
    {
      StatementUse run(sql_.run);
      sqlite3_bind_int64(run.get(), 1, span.first);
      for (std::int64_t seen = 0; seen < span.count; ++seen) {
        const int rc = sqlite3_step(run.get());
        if (rc == SQLITE_DONE)
          break;
        if (rc != SQLITE_ROW)
          return rc;
        if (sqlite3_column_int64(run.get(), 1) != id)
          break;
        last = sqlite3_column_int64(run.get(), 0);
        if (!Emit(run.get()))
          return Stop();
        if (seen + 1 == span.count)
          return SQLITE_OK;
      }
    }
    StatementUse rest(sql_.rest);
    sqlite3_bind_int64(rest.get(), 1, id);
    sqlite3_bind_int64(rest.get(), 2, last);
    int rc;
    while ((rc = sqlite3_step(rest.get())) == SQLITE_ROW) {
      if (!Emit(rest.get()))
        return Stop();
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }

  // Passes a row of id, key, name, type and data to the visitor.
  bool Emit(sqlite3_stmt* row) {
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, 4));
    return visitor_.Value({ColumnView(row, 2),
                           static_cast<std::uint32_t>(sqlite3_column_int64(row, 3)), data,
                           static_cast<std::size_t>(sqlite3_column_bytes(row, 4))});
  }

  int Stop() {
    stopped_ = true;
    return SQLITE_OK;
  }

  // The subkey statement of one level of the tree, prepared when first
  // needed and kept for the walk.
  int SubkeyStatement(std::size_t depth, sqlite3_stmt** stmt) {
    if (depth < subkeys_.size()) {
      *stmt = subkeys_[depth].get();
      return SQLITE_OK;
    }
    sqlite3_stmt* prepared = nullptr;
    const char* sql = recursive_ ? REGSTORE_SUBKEY_IDS_ONLY_SQL : REGSTORE_SUBKEY_IDS_SQL;
    const int rc =
        sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
    if (rc != SQLITE_OK)
      return rc;
    subkeys_.emplace_back(prepared);
    *stmt = prepared;
    return SQLITE_OK;
  }

  sqlite3* db_;
  Statements sql_;
  StoreVisitor& visitor_;
  bool recursive_;
  bool values_;
  bool stopped_ = false;
  std::int64_t last_parent_ = 0;
  KeyReadAhead ahead_;
  std::vector<OwnedStatement> subkeys_;
};

}  // namespace

Status Store::WalkTree(RegKey key, const std::string& path, bool recursive, StoreVisitor* visitor,
                       bool values) {
  StoreKeyInfo info;
  return ReadKey(key, path, &info, [&](std::int64_t id) {
    TreeWalker walker(connection_.db().get(),
                      {Statement(kValueSpan), Statement(kValuesFrom), Statement(kValuesAfter),
                       Statement(kKeyNamesFrom), Statement(kValueSpansFrom),
                       Statement(kLastParent)},
                      visitor, recursive, values);
    const int rc = walker.Walk(id, &info.path);
    return rc == SQLITE_OK ? kErrorSuccess : connection_.Fail(rc);
  });
}

}  // namespace regstore
