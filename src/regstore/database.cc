#include "regstore/database.h"

#include "regstore/regstore.h"
#include "regstore/schema.h"

namespace regstore {

namespace {

constexpr const char* kStatementSql[] = {
#define REGSTORE_STATEMENT_SQL(id, sql) sql,
    REGSTORE_STATEMENTS(REGSTORE_STATEMENT_SQL)
#undef REGSTORE_STATEMENT_SQL
};
static_assert(sizeof(kStatementSql) / sizeof(kStatementSql[0]) == kStatementCount,
              "one SQL text per statement id");
// The texts name a protected key by its flag and the root keys by their ids.
static_assert(kKeyProtected == 1, "kProtectedBelow tests flag 1");
static_assert(kLastRootId == 5, "kDeleteTreeKeys keeps the keys up to id 5");

}  // namespace

int Database::Open(const std::string& path, int flags, const char* vfs) {
  Close();
  return sqlite3_open_v2(path.c_str(), &db_, flags, vfs);
}

int Database::PrepareStatements() {
  for (int i = 0; i < kStatementCount; ++i) {
    const int rc = sqlite3_prepare_v3(db_, kStatementSql[i], -1, SQLITE_PREPARE_PERSISTENT,
                                      &statements_[i], nullptr);
    if (rc != SQLITE_OK)
      return rc;
  }
  return SQLITE_OK;
}

void Database::Close() {
  for (sqlite3_stmt*& stmt : statements_) {
    sqlite3_finalize(stmt);
    stmt = nullptr;
  }
  for (sqlite3_stmt* stmt : chain_statements_)
    sqlite3_finalize(stmt);
  chain_statements_.clear();
  if (db_)
    sqlite3_close(db_);
  db_ = nullptr;
}

sqlite3_stmt* Database::ChainStatement(std::size_t depth) {
  if (depth > kMaxChainDepth)
    return nullptr;
  if (chain_statements_.size() <= depth)
    chain_statements_.resize(depth + 1, nullptr);
  sqlite3_stmt*& stmt = chain_statements_[depth];
  if (!stmt) {
    // The base row and one outer join per name, each an index lookup.
    std::string sql = "SELECT b.flags";
    std::string joins;
    for (std::size_t i = 1; i <= depth; ++i) {
      const std::string k = "k" + std::to_string(i);
      sql += ", " + k + ".id, " + k + ".flags, " + k + ".name";
      joins += " LEFT JOIN keys AS " + k + " ON " + k +
               ".parent = " + (i == 1 ? std::string("b") : "k" + std::to_string(i - 1)) +
               ".id AND " + k + ".folded = ?" + std::to_string(i + 1);
    }
    sql += " FROM keys AS b" + joins + " WHERE b.id = ?1";
    if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
        SQLITE_OK) {
      stmt = nullptr;
    }
  }
  return stmt;
}

std::uint32_t Database::DataVersion() {
  unsigned int version = 0;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version);
  return version;
}

const char* Database::ErrorText(int rc) const {
  return db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
}

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string_view ColumnView(sqlite3_stmt* stmt, int column) {
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
              : std::string_view();
}

regdefs::Status FromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return regdefs::kErrorSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return regdefs::kErrorBusy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return regdefs::kErrorAccessDenied;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA:
      return regdefs::kErrorBadDb;
    case SQLITE_FULL:
      return regdefs::kErrorDiskFull;
    case SQLITE_IOERR:
      return regdefs::kErrorIoDevice;
    case SQLITE_NOMEM:
      return regdefs::kErrorNotEnoughMemory;
    default:
      return regdefs::kErrorGenFailure;
  }
}

}  // namespace regstore
