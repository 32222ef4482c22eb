#include "regstore/schema.h"

#include <cstring>
#include <string>

namespace regstore {

namespace {

// Names compare without regard to ASCII letter case (COLLATE NOCASE folds
// the same letters as FoldName) and keep the case they were created with. Values are enumerated in
// the order of their row ids, which grow with every insert; replacing a value updates its row in
// place and so keeps its position. Key ids are never reused, so that a handle to a deleted key
// cannot come to mean a new one.
const char kTablesSql[] =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " flags INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    " id INTEGER PRIMARY KEY,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, name));";

}  // namespace

// The root keys follow the tables, one row each, named as kRootKeys has them.
const char* StoreSchemaSql() {
  static const std::string sql = [] {
    std::string text = kTablesSql;
    text += "INSERT OR IGNORE INTO keys(id, parent, name) VALUES";
    for (std::size_t i = 0; i < plat::kRootKeyCount; ++i) {
      text += i == 0 ? " (" : ", (";
      text += std::to_string(kFirstRootId + static_cast<std::int64_t>(i)) + ", 0, '";
      text += plat::kRootKeys[i].name;
      text += "')";
    }
    return text + ";";
  }();
  return sql.c_str();
}

int ConfigureStoreConnection(sqlite3* db) {
  // Pages of 2 KiB for a new store (an existing one keeps its own): a commit
  // of a key and its values changes a few small rows in several tables, and
  // writes, checksums and later forces to disk every page it touches, whole.
  // Half the page is little more than half the bytes per commit.
  int rc = sqlite3_exec(db, "PRAGMA page_size=2048", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK)
    return rc;
  // Write-ahead logging lets readers go on while a writer works, and a
  // commit appends to the log instead of rewriting pages in place. With
  // synchronous=NORMAL a commit is not forced to disk (a killed process loses
  // nothing that was committed; a power cut may lose the last commits but
  // never leaves the file corrupt); checkpoints still sync.
  sqlite3_stmt* stmt = nullptr;
  rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr);
  if (rc != SQLITE_OK)
    return rc;
  rc = sqlite3_step(stmt);
  bool wal = rc == SQLITE_ROW &&
             std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "wal") == 0;
  sqlite3_finalize(stmt);
  if (rc != SQLITE_ROW)
    return rc;
  if (!wal)
    return SQLITE_ERROR;
  return sqlite3_exec(db,
                      "PRAGMA synchronous=NORMAL;"
                      "PRAGMA wal_autocheckpoint=4000;"
                      "PRAGMA journal_size_limit=16777216;"
                      "PRAGMA temp_store=MEMORY;",
                      nullptr, nullptr, nullptr);
}

void ConfigureSqliteLibrary() {
  // Answers SQLITE_MISUSE once the library is in use; it then keeps the
  // settings it has.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

}  // namespace regstore
