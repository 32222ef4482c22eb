// Walks of the store that read as they go: each level of the tree keeps one
// statement stepped a row at a time, so memory stays the same however many
// keys and values there are.
#include <memory>

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
  // The statements that read values: where a key's values begin and how
  // many there are, the table's rows from a row id on, and a key's rows after
  // a row id wherever they lie.
  struct ValueStatements {
    sqlite3_stmt* span;
    sqlite3_stmt* run;
    sqlite3_stmt* rest;
  };

  TreeWalker(sqlite3* db, const ValueStatements& values_sql, StoreVisitor* visitor, bool recursive,
             bool values)
      : db_(db),
        values_sql_(values_sql),
        visitor_(*visitor),
        recursive_(recursive),
        values_(values) {}

  // Visits the key `id` at `path` and, when recursive, every key below it;
  // answers an SQLite result code.
  int Visit(std::int64_t id, std::string* path, std::size_t depth) {
    if (!visitor_.Key(*path))
      return Stop();
    if (values_) {
      const int rc = VisitValues(id);
      if (rc != SQLITE_OK || stopped_)
        return rc;
    }
    sqlite3_stmt* subkeys = nullptr;
    int rc = SubkeyStatement(depth, &subkeys);
    if (rc != SQLITE_OK)
      return rc;
    StatementUse use(subkeys);
    sqlite3_bind_int64(subkeys, 1, id);
    while ((rc = sqlite3_step(subkeys)) == SQLITE_ROW) {
      const std::string_view name = ColumnView(subkeys, 1);
      if (!recursive_) {
        if (!visitor_.Subkey(name))
          return Stop();
        continue;
      }
      const std::size_t length = path->size();
      if (!path->empty())
        *path += '\\';
      path->append(name);
      rc = Visit(sqlite3_column_int64(subkeys, 0), path, depth + 1);
      path->resize(length);
      if (rc != SQLITE_OK || stopped_)
        return rc;
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }

 private:
  // Visits the values of the key `id` in the order they were made (the order
  // of their row ids). The values a key gets in one import lie side by side
  // in the table, so they are read as one run of the table from the first
  // of them: no sort and no lookup per row. Where the run meets a row of
  // another key before the last value, the rest are looked up one by one in
  // row id order; no more than one row of another key is ever read.
  int VisitValues(std::int64_t id) {
    std::int64_t first = 0;
    std::int64_t count = 0;
    {
      StatementUse span(values_sql_.span);
      sqlite3_bind_int64(span.get(), 1, id);
      const int rc = sqlite3_step(span.get());
      if (rc != SQLITE_ROW)
        return rc;
      first = sqlite3_column_int64(span.get(), 0);
      count = sqlite3_column_int64(span.get(), 1);
    }
    if (count == 0)
      return SQLITE_OK;
    std::int64_t last = first - 1;
    {
      StatementUse run(values_sql_.run);
      sqlite3_bind_int64(run.get(), 1, first);
      for (std::int64_t seen = 0; seen < count; ++seen) {
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
        if (seen + 1 == count)
          return SQLITE_OK;
      }
    }
    StatementUse rest(values_sql_.rest);
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
    const int rc = sqlite3_prepare_v3(db_, REGSTORE_SUBKEY_IDS_SQL, -1, SQLITE_PREPARE_PERSISTENT,
                                      &prepared, nullptr);
    if (rc != SQLITE_OK)
      return rc;
    subkeys_.emplace_back(prepared);
    *stmt = prepared;
    return SQLITE_OK;
  }

  sqlite3* db_;
  ValueStatements values_sql_;
  StoreVisitor& visitor_;
  bool recursive_;
  bool values_;
  bool stopped_ = false;
  std::vector<OwnedStatement> subkeys_;
};

}  // namespace

Status Store::WalkTree(RegKey key, const std::string& path, bool recursive, StoreVisitor* visitor,
                       bool values) {
  StoreKeyInfo info;
  return ReadKey(key, path, &info, [&](std::int64_t id) {
    TreeWalker walker(connection_.db().get(),
                      {Statement(kValueSpan), Statement(kValuesFrom), Statement(kValuesAfter)},
                      visitor, recursive, values);
    const int rc = walker.Visit(id, &info.path, 0);
    return rc == SQLITE_OK ? kErrorSuccess : connection_.Fail(rc);
  });
}

}  // namespace regstore
