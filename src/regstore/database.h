// The store's SQLite connection and its prepared statements, owned together:
// closing the connection finalizes every statement first.
#ifndef BREVLIN_REGSTORE_DATABASE_H_
#define BREVLIN_REGSTORE_DATABASE_H_

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regdefs/status.h"

namespace regstore {

// Every statement the store prepares, with its SQL text. The ids and the
// texts come from this one list, so they cannot drift apart.
#define REGSTORE_STATEMENTS(X)                                                                \
  X(kBeginRead, "BEGIN")                                                                      \
  X(kBegin, "BEGIN IMMEDIATE")                                                                \
  X(kCommit, "COMMIT")                                                                        \
  X(kRollback, "ROLLBACK")                                                                    \
  X(kFindChild, "SELECT id, flags, name FROM keys WHERE parent = ?1 AND folded = ?2")         \
  X(kInsertKey, "INSERT INTO keys(parent, folded, name) VALUES(?1, ?2, ?3)")                  \
  X(kKeyById, "SELECT parent, flags FROM keys WHERE id = ?1")                                 \
  X(kUpdateValue, "UPDATE vals SET type = ?3, data = ?4 WHERE key = ?1 AND folded = ?2")      \
  X(kInsertValue,                                                                             \
    "INSERT OR IGNORE INTO vals(key, folded, type, data, name) VALUES(?1, ?2, ?3, ?4, ?5)")   \
  X(kFindValue, "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2")                 \
  X(kDeleteValue, "DELETE FROM vals WHERE key = ?1 AND folded = ?2")                          \
  X(kValueSpan, "SELECT min(id), count(*) FROM vals WHERE key = ?1")                          \
  X(kKeyNamesFrom, "SELECT id, name FROM keys WHERE id >= ?1 AND id < ?2")                    \
  X(kValueSpansFrom,                                                                          \
    "SELECT key, min(id), count(*) FROM vals WHERE key >= ?1 AND key < ?2 GROUP BY key")      \
  X(kLastParent, "SELECT max(parent) FROM keys")                                              \
  X(kValuesFrom, "SELECT id, key, name, type, data FROM vals NOT INDEXED WHERE id >= ?1")     \
  X(kValuesAfter,                                                                             \
    "SELECT id, key, name, type, data FROM vals"                                              \
    " WHERE id IN (SELECT id FROM vals WHERE key = ?1 AND id > ?2) ORDER BY id")              \
  X(kSetFlags, "UPDATE keys SET flags = (flags | ?2) & ~?3 WHERE id = ?1")                    \
  X(kProtectedBelow,                                                                          \
    REGSTORE_SUBTREE_OF_1 " SELECT 1 FROM keys WHERE id IN sub AND (flags & 1) != 0 LIMIT 1") \
  X(kDeleteTreeValues, REGSTORE_SUBTREE_OF_1 " DELETE FROM vals WHERE key IN sub")            \
  X(kDeleteTreeKeys, REGSTORE_SUBTREE_OF_1 " DELETE FROM keys WHERE id IN sub AND id > 5")

// The subkeys of the key ?1 with their ids, sorted by name; the second
// reads the index alone and leaves out the names. A walk of the store steps
// one of these at each level at once, so it prepares its own.
#define REGSTORE_SUBKEY_IDS_SQL "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY folded"
#define REGSTORE_SUBKEY_IDS_ONLY_SQL "SELECT id FROM keys WHERE parent = ?1 ORDER BY folded"

// The ids of the key ?1 and of every key below it, as the table `sub`.
#define REGSTORE_SUBTREE_OF_1                      \
  "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL" \
  " SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"

enum StatementId {
#define REGSTORE_STATEMENT_ID(id, sql) id,
  REGSTORE_STATEMENTS(REGSTORE_STATEMENT_ID)
#undef REGSTORE_STATEMENT_ID
      kStatementCount
};

class Database {
 public:
  Database() = default;
  ~Database() { Close(); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the file with sqlite3_open_v2; answers its result code. After a
  // failure the connection stays until Close, for its error message.
  int Open(const std::string& path, int flags, const char* vfs);
  // Prepares every statement of the list; answers an SQLite result code.
  int PrepareStatements();
  // Finalizes the statements and closes the connection.
  void Close();

  bool is_open() const { return db_ != nullptr; }
  sqlite3* get() const { return db_; }
  sqlite3_stmt* Statement(StatementId id) const { return statements_[id]; }
  // The statement that looks up a path of `depth` names below a key at
  // once; null for paths deeper than kMaxChainDepth, which are looked up
  // name by name.
  sqlite3_stmt* ChainStatement(std::size_t depth);
  static constexpr std::size_t kMaxChainDepth = 16;

  // SQLite's data version of the main database: it changes when another
  // connection commits.
  std::uint32_t DataVersion();
  // The reason for the result code `rc`, as readable text.
  const char* ErrorText(int rc) const;

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statements_[kStatementCount] = {};
  std::vector<sqlite3_stmt*> chain_statements_;
};

// Resets a statement when the code that stepped it is done with it, so that
// no statement keeps a read transaction open between calls.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~StatementUse() { sqlite3_reset(stmt_); }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
};

void BindText(sqlite3_stmt* stmt, int index, std::string_view text);
std::string_view ColumnView(sqlite3_stmt* stmt, int column);
inline std::string ColumnText(sqlite3_stmt* stmt, int column) {
  return std::string(ColumnView(stmt, column));
}

// The Win32 status code for an SQLite result code.
regdefs::Status FromSqlite(int rc);

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_DATABASE_H_
