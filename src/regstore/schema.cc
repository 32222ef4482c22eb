#include "regstore/schema.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "regstore/names.h"

namespace regstore {

namespace {

// Each name is kept as it was written (`name`, the case it was created with)
// and beside it in its folded form (`folded`, made by FoldName). The unique
// index on (parent, folded) is a plain binary one: it finds a name by its
// folded form and keeps two names that are one name from both existing, and
// it orders subkeys as the registry sorts them. Nothing but SQLite is needed
// to read, check or change the tables. Values are enumerated in the order of
// their row ids, which grow with every insert; replacing a value updates its
// row in place and so keeps its position. Key ids are never reused, so that a
// handle to a deleted key cannot come to mean a new one.
//
// The same two tables serve under other names while an older store is
// brought up to date (below).
#define REGSTORE_TABLES_SQL(CREATE, KEYS, VALS)      \
  CREATE " " KEYS                                    \
         "("                                         \
         " id INTEGER PRIMARY KEY AUTOINCREMENT,"    \
         " parent INTEGER NOT NULL,"                 \
         " name TEXT NOT NULL,"                      \
         " folded TEXT NOT NULL,"                    \
         " flags INTEGER NOT NULL DEFAULT 0,"        \
         " UNIQUE(parent, folded));" CREATE " " VALS \
         "("                                         \
         " id INTEGER PRIMARY KEY,"                  \
         " key INTEGER NOT NULL,"                    \
         " name TEXT NOT NULL,"                      \
         " folded TEXT NOT NULL,"                    \
         " type INTEGER NOT NULL,"                   \
         " data BLOB NOT NULL,"                      \
         " UNIQUE(key, folded));"

const char kTablesSql[] = REGSTORE_TABLES_SQL("CREATE TABLE IF NOT EXISTS", "keys", "vals");

// Older stores compared names through a collation of their columns: version
// 0 in ASCII letter case only (NOCASE), version 1 as the registry does
// (REGNAME, which only this program knew). Their rows are copied in the
// order they were made into tables of the current layout, each name with its
// folded form. Version 0 may hold two keys or values whose names are one name
// now, such as "Café" and "CAFÉ": a key that meets an earlier one of the same
// name becomes that key (its keys and values go to it, and it keeps the
// protections of both), and a value that meets an earlier one replaces its
// type and data, as its later write did in the registry.
const char kNewTablesSql[] = REGSTORE_TABLES_SQL("CREATE TABLE", "keys_new", "vals_new");

// The collation of the name columns of version 1.
constexpr char kOldNameCollation[] = "REGNAME";

int CollateNames(void*, int size_a, const void* a, int size_b, const void* b) {
  return CompareNames(
      std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(size_a)),
      std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(size_b)));
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int rc() const { return rc_; }
  sqlite3_stmt* get() const { return stmt_; }
  // Runs a statement that answers no rows, then readies it for the next run.
  int Run() {
    const int rc = sqlite3_step(stmt_);
    sqlite3_reset(stmt_);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_;
};

int ReadInteger(sqlite3* db, const char* sql, std::int64_t* value) {
  Statement stmt(db, sql);
  if (stmt.rc() != SQLITE_OK)
    return stmt.rc();
  const int rc = sqlite3_step(stmt.get());
  *value = rc == SQLITE_ROW ? sqlite3_column_int64(stmt.get(), 0) : 0;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// A name column read as its bytes, whether SQLite holds it as text or, as a
// copy made with the shell's .dump restores names that are no UTF-8, as a
// blob.
std::string_view ColumnBytes(sqlite3_stmt* stmt, int column) {
  const void* bytes = sqlite3_column_blob(stmt, column);
  // An empty name has no bytes, and is bound as the empty text, never as
  // NULL.
  return bytes ? std::string_view(static_cast<const char*>(bytes),
                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
               : std::string_view("");
}

int MigrateOldTables(sqlite3* db) {
  // The old columns name their collation; the copy compares no old names,
  // but the old tables are only dropped with it known.
  int rc = RegisterOldNameCollation(db);
  std::int64_t sequence = 0;
  if (rc == SQLITE_OK)
    rc = ReadInteger(db, "SELECT seq FROM sqlite_sequence WHERE name = 'keys'", &sequence);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db, kNewTablesSql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK)
    return rc;
  // Keys that became an earlier key of the same name, by their old ids.
  std::unordered_map<std::int64_t, std::int64_t> merged;
  auto current = [&](std::int64_t id) {
    auto it = merged.find(id);
    return it == merged.end() ? id : it->second;
  };
  std::string folded;
  {
    // A key's parent was made before it, so ordered by id every parent is
    // copied (or merged) before its keys.
    Statement keys(db, "SELECT id, parent, name, flags FROM keys ORDER BY id");
    Statement insert(db,
                     "INSERT OR IGNORE INTO keys_new(id, parent, name, folded, flags)"
                     " VALUES(?1, ?2, ?3, ?4, ?5)");
    Statement join(db,
                   "UPDATE keys_new SET flags = flags | ?3 WHERE parent = ?1 AND folded = ?2"
                   " RETURNING id");
    for (const Statement* s : {&keys, &insert, &join}) {
      if (s->rc() != SQLITE_OK)
        return s->rc();
    }
    while ((rc = sqlite3_step(keys.get())) == SQLITE_ROW) {
      const std::int64_t id = sqlite3_column_int64(keys.get(), 0);
      const std::int64_t parent = current(sqlite3_column_int64(keys.get(), 1));
      const std::string_view name = ColumnBytes(keys.get(), 2);
      FoldNameInto(name, &folded);
      sqlite3_bind_int64(insert.get(), 1, id);
      sqlite3_bind_int64(insert.get(), 2, parent);
      BindText(insert.get(), 3, name);
      BindText(insert.get(), 4, folded);
      sqlite3_bind_int64(insert.get(), 5, sqlite3_column_int64(keys.get(), 3));
      if ((rc = insert.Run()) != SQLITE_OK)
        return rc;
      if (sqlite3_changes(db) > 0)
        continue;
      sqlite3_bind_int64(join.get(), 1, parent);
      BindText(join.get(), 2, folded);
      sqlite3_bind_int64(join.get(), 3, sqlite3_column_int64(keys.get(), 3));
      rc = sqlite3_step(join.get());
      if (rc != SQLITE_ROW) {
        sqlite3_reset(join.get());
        return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
      }
      merged[id] = sqlite3_column_int64(join.get(), 0);
      sqlite3_reset(join.get());
    }
    if (rc != SQLITE_DONE)
      return rc;
  }
  {
    Statement vals(db, "SELECT id, key, name, type, data FROM vals ORDER BY id");
    Statement insert(db,
                     "INSERT INTO vals_new(id, key, name, folded, type, data)"
                     " VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(key, folded)"
                     " DO UPDATE SET type = excluded.type, data = excluded.data");
    for (const Statement* s : {&vals, &insert}) {
      if (s->rc() != SQLITE_OK)
        return s->rc();
    }
    while ((rc = sqlite3_step(vals.get())) == SQLITE_ROW) {
      const std::string_view name = ColumnBytes(vals.get(), 2);
      FoldNameInto(name, &folded);
      sqlite3_bind_int64(insert.get(), 1, sqlite3_column_int64(vals.get(), 0));
      sqlite3_bind_int64(insert.get(), 2, current(sqlite3_column_int64(vals.get(), 1)));
      BindText(insert.get(), 3, name);
      BindText(insert.get(), 4, folded);
      sqlite3_bind_value(insert.get(), 5, sqlite3_column_value(vals.get(), 3));
      sqlite3_bind_value(insert.get(), 6, sqlite3_column_value(vals.get(), 4));
      if ((rc = insert.Run()) != SQLITE_OK)
        return rc;
    }
    if (rc != SQLITE_DONE)
      return rc;
  }
  // Key ids are never reused: the new table's sequence goes on from the
  // old one's.
  rc = sqlite3_exec(db,
                    "DROP TABLE vals; DROP TABLE keys;"
                    "ALTER TABLE keys_new RENAME TO keys; ALTER TABLE vals_new RENAME TO vals;",
                    nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK)
    return rc;
  Statement sequence_update(db,
                            "UPDATE sqlite_sequence SET seq = max(seq, ?1) WHERE name = 'keys'");
  if (sequence_update.rc() != SQLITE_OK)
    return sequence_update.rc();
  sqlite3_bind_int64(sequence_update.get(), 1, sequence);
  return sequence_update.Run();
}

}  // namespace

int RegisterOldNameCollation(sqlite3* db) {
  return sqlite3_create_collation_v2(db, kOldNameCollation, SQLITE_UTF8, nullptr, CollateNames,
                                     nullptr);
}

int ReadStoreVersion(sqlite3* db, std::int64_t* version) {
  int rc = ReadInteger(db, "PRAGMA user_version", version);
  if (rc != SQLITE_OK || *version != 0)
    return rc;
  // A copy restored from the shell's .dump has the current tables but no
  // version, which .dump does not carry.
  std::int64_t folded_columns = 0;
  rc = ReadInteger(db,
                   "SELECT (SELECT count(*) FROM pragma_table_info('keys') WHERE name = 'folded')"
                   " + (SELECT count(*) FROM pragma_table_info('vals') WHERE name = 'folded')",
                   &folded_columns);
  if (rc == SQLITE_OK && folded_columns == 2)
    *version = kStoreVersion;
  return rc;
}

int IsRestoredStore(sqlite3* db, bool* restored) {
  *restored = false;
  std::int64_t application_id = 0;
  int rc = ReadInteger(db, "PRAGMA application_id", &application_id);
  if (rc != SQLITE_OK || application_id != 0)
    return rc;
  std::int64_t user_version = 0;
  rc = ReadInteger(db, "PRAGMA user_version", &user_version);
  if (rc != SQLITE_OK || user_version != 0)
    return rc;
  std::int64_t version = 0;
  rc = ReadStoreVersion(db, &version);
  if (rc != SQLITE_OK || version != kStoreVersion)
    return rc;
  // Nothing but the store's two tables (and SQLite's own).
  std::int64_t others = 0;
  rc = ReadInteger(db,
                   "SELECT count(*) FROM sqlite_master WHERE type = 'table'"
                   " AND name NOT IN ('keys', 'vals', 'sqlite_sequence')",
                   &others);
  *restored = rc == SQLITE_OK && others == 0;
  return rc;
}

int SetUpStoreTables(sqlite3* db, std::int64_t* version) {
  int rc = ReadStoreVersion(db, version);
  if (rc != SQLITE_OK || *version > kStoreVersion)
    return rc;
  std::int64_t user_version = 0;
  rc = ReadInteger(db, "PRAGMA user_version", &user_version);
  if (rc == SQLITE_OK && *version < kStoreVersion) {
    std::int64_t tables = 0;
    rc = ReadInteger(
        db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'keys'", &tables);
    if (rc == SQLITE_OK && tables != 0)
      rc = MigrateOldTables(db);
  }
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db, StoreSchemaSql(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && user_version != kStoreVersion) {
    rc = sqlite3_exec(db, ("PRAGMA user_version=" + std::to_string(kStoreVersion)).c_str(), nullptr,
                      nullptr, nullptr);
  }
  return rc;
}

// The root keys follow the tables, one row each, named as kRootKeys has them.
const char* StoreSchemaSql() {
  static const std::string sql = [] {
    std::string text = kTablesSql;
    text += "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES";
    for (std::size_t i = 0; i < regdefs::kRootKeyCount; ++i) {
      text += i == 0 ? " (" : ", (";
      text += std::to_string(kFirstRootId + static_cast<std::int64_t>(i)) + ", 0, '";
      text += regdefs::kRootKeys[i].name;
      text += "', '";
      text += FoldName(regdefs::kRootKeys[i].name);
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

int ConfigurePageCache(sqlite3* db) {
  // A page cache of 16 MiB instead of SQLite's 2 MB: a walk of the tree in
  // name order visits sibling keys whose rows lie far apart in the tables,
  // and the next sibling's rows share pages with the last one's. With the
  // pages of one such sweep kept, an export reads each page about once
  // instead of once per key (a tenth of the reads for a store of 1 M values
  // spread over 300 parents); memory stays bounded by the cache.
  return sqlite3_exec(db, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
}

void ConfigureSqliteLibrary() {
  // Answers SQLITE_MISUSE once the library is in use; it then keeps the
  // settings it has.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

}  // namespace regstore
