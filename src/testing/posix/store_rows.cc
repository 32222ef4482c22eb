#include "testing/posix/store_rows.h"

#include <sqlite3.h>

#include <cstddef>

#include "regstore/schema.h"

namespace testing_support {

std::vector<std::string> StoreRows(const std::string& path, bool old_tables) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      (!old_tables || regstore::RegisterOldNameCollation(db) == SQLITE_OK) &&
      sqlite3_prepare_v2(db,
                         "SELECT k.id, k.parent, k.name, k.flags, v.id, v.name, v.type, v.data"
                         " FROM keys k LEFT JOIN vals v ON v.key = k.id ORDER BY k.id, v.id",
                         -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < 8; ++c) {
        const char* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, c));
        row.append(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
        row += '|';
      }
      rows.push_back(row);
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

}  // namespace testing_support
