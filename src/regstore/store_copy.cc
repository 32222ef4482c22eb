// A copy of a store file, taken as one read snapshot through SQLite's backup,
// so that a writer's log is included and a writer at work is never seen half
// done.
#include <sqlite3.h>

#include "regstore/regstore.h"

namespace regstore {

namespace {

// Closes a connection on every way out.
struct Connection {
  sqlite3* db = nullptr;
  ~Connection() { sqlite3_close_v2(db); }
};

}  // namespace

Status CopyStoreFile(const std::string& from, const std::string& to, std::string* detail) {
  Connection source;
  Connection copy;
  int rc = sqlite3_open_v2(from.c_str(), &source.db, SQLITE_OPEN_READONLY, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_open_v2(to.c_str(), &copy.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_backup* backup = sqlite3_backup_init(copy.db, "main", source.db, "main");
    if (!backup) {
      rc = sqlite3_errcode(copy.db);
    } else {
      sqlite3_backup_step(backup, -1);
      rc = sqlite3_backup_finish(backup);
    }
  }
  if (rc == SQLITE_OK)
    return regdefs::kErrorSuccess;
  if (detail) {
    sqlite3* failed = copy.db ? copy.db : source.db;
    *detail = failed ? sqlite3_errmsg(failed) : sqlite3_errstr(rc);
  }
  return rc == SQLITE_BUSY ? regdefs::kErrorBusy : regdefs::kErrorBadDb;
}

}  // namespace regstore
