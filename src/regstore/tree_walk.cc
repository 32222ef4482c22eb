// Walks of the store that read as they go: each level of the tree keeps one
// statement stepped a row at a time, so memory stays the same however many
// keys and values there are.
#include <memory>

#include "regstore/store.h"
#include "regstore/transaction.h"

namespace regstore {

using namespace plat;

namespace {

struct FinalizeStatement {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using OwnedStatement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

class TreeWalker {
 public:
  TreeWalker(sqlite3* db, sqlite3_stmt* list_values, StoreVisitor* visitor, bool recursive,
             bool values)
      : db_(db),
        list_values_(list_values),
        visitor_(*visitor),
        recursive_(recursive),
        values_(values) {}

  // Visits the key `id` at `path`; answers an SQLite result code.
  int Visit(std::int64_t id, std::string* path, std::size_t depth) {
    if (!visitor_.Key(*path))
      return Stop();
    if (values_) {
      StatementUse values(list_values_);
      sqlite3_bind_int64(values.get(), 1, id);
      int rc;
      while ((rc = sqlite3_step(values.get())) == SQLITE_ROW) {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(values.get(), 2));
        const StoreValueView value{
            ColumnView(values.get(), 0),
            static_cast<std::uint32_t>(sqlite3_column_int64(values.get(), 1)), data,
            static_cast<std::size_t>(sqlite3_column_bytes(values.get(), 2))};
        if (!visitor_.Value(value))
          return Stop();
      }
      if (rc != SQLITE_DONE)
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
  sqlite3_stmt* list_values_;
  StoreVisitor& visitor_;
  bool recursive_;
  bool values_;
  bool stopped_ = false;
  std::vector<OwnedStatement> subkeys_;
};

}  // namespace

Status Store::WalkTree(RegKey key, const std::string& path, bool recursive, StoreVisitor* visitor,
                       bool values) {
  std::lock_guard<std::mutex> lock(mutex_);
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(this);
  std::int64_t id = 0;
  StoreKeyInfo info;
  status = Find(key, path, &id, &info);
  if (status != kErrorSuccess)
    return status;
  TreeWalker walker(db_.get(), Statement(kListValues), visitor, recursive, values);
  const int rc = walker.Visit(id, &info.path, 0);
  return rc == SQLITE_OK ? kErrorSuccess : Fail(rc);
}

}  // namespace regstore
