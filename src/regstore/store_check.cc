#include "regstore/store_check.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>

#include "regdefs/root_keys.h"
#include "regstore/names.h"
#include "regstore/regstore.h"
#include "regstore/schema.h"
#include "regstore/vfs.h"
#include "regstore/walk.h"

namespace regstore {

namespace {

struct CloseConnection {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;
using Query = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// A column's bytes, whether SQLite holds them as text or as a blob.
std::string_view Bytes(sqlite3_stmt* stmt, int column) {
  const void* bytes = sqlite3_column_blob(stmt, column);
  return bytes ? std::string_view(static_cast<const char*>(bytes),
                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
               : std::string_view();
}

std::string Quoted(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

// The columns of the store's two tables, in order.
constexpr const char* kKeyColumns = "id,parent,name,folded,flags";
constexpr const char* kValueColumns = "id,key,name,folded,type,data";

class Checker {
 public:
  Checker(sqlite3* db, StoreCheckReport* report) : db_(db), report_(*report) {}

  void Run() {
    if (!ReadIdentity())
      return;
    // The tables of an older store compare names through a collation that
    // only this program knows; SQLite needs it to check their indexes.
    if (report_.older_version)
      RegisterOldNameCollation(db_);
    if (!CheckIntegrity() || report_.older_version)
      return;
    if (!CheckLayout())
      return;
    CheckRootKeys();
    CheckKeys();
    CheckValues();
    CheckSequence();
  }

 private:
  void Problem(std::string path, std::string text) {
    if (report_.problems.size() < kMaxReportedProblems)
      report_.problems.push_back({std::move(path), std::move(text)});
    ++report_.problem_count;
  }
  void KeyProblem(std::int64_t id, std::string text) {
    // Past the reported problems, the path is not needed.
    Problem(report_.problems.size() < kMaxReportedProblems ? KeyPath(id) : std::string(),
            std::move(text));
  }
  void SqlProblem(const char* what) { Problem("", std::string(what) + ": " + sqlite3_errmsg(db_)); }

  Query Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return Query();
    }
    return Query(stmt);
  }

  // Runs a query whose rows are each one problem of the key in column 0
  // (and a number in column 1 for the text).
  void EachRow(const char* sql, const char* what,
               const std::function<void(sqlite3_stmt*)>& problem) {
    Query query = Prepare(sql);
    if (!query) {
      SqlProblem(what);
      return;
    }
    int rc;
    while ((rc = sqlite3_step(query.get())) == SQLITE_ROW)
      problem(query.get());
    if (rc != SQLITE_DONE)
      SqlProblem(what);
  }

  bool Integer(const char* sql, std::int64_t* value) {
    Query query = Prepare(sql);
    if (!query || sqlite3_step(query.get()) != SQLITE_ROW)
      return false;
    *value = sqlite3_column_int64(query.get(), 0);
    return true;
  }

  // The path of a key from its root key, as far as the parents lead.
  std::string KeyPath(std::int64_t id) {
    if (!path_query_)
      path_query_ = Prepare("SELECT parent, name FROM keys WHERE id = ?1");
    if (!path_query_)
      return "key " + std::to_string(id);
    std::string path;
    for (std::size_t depth = 0; id != 0; ++depth) {
      if (depth > kMaxKeyDepth + 1)
        return "(a loop of keys)\\" + path;
      sqlite3_reset(path_query_.get());
      sqlite3_bind_int64(path_query_.get(), 1, id);
      if (sqlite3_step(path_query_.get()) != SQLITE_ROW) {
        sqlite3_reset(path_query_.get());
        return "(missing key " + std::to_string(id) + ")" + (path.empty() ? "" : "\\" + path);
      }
      const std::string name(Bytes(path_query_.get(), 1));
      path = path.empty() ? name : name + "\\" + path;
      id = sqlite3_column_int64(path_query_.get(), 0);
    }
    sqlite3_reset(path_query_.get());
    return path;
  }

  bool ReadIdentity() {
    std::int64_t application_id = 0;
    if (!Integer("PRAGMA application_id", &application_id) ||
        ReadStoreVersion(db_, &report_.version) != SQLITE_OK) {
      SqlProblem("the file cannot be read as a database");
      return false;
    }
    bool restored = false;
    if (application_id != kStoreApplicationId &&
        (IsRestoredStore(db_, &restored) != SQLITE_OK || !restored)) {
      Problem("", "the file is not a registry store (application id " +
                      std::to_string(application_id) + ")");
      return false;
    }
    if (report_.version > kStoreVersion) {
      Problem("", "the store was made by a newer version of the program (store version " +
                      std::to_string(report_.version) + "; this one knows versions up to " +
                      std::to_string(kStoreVersion) + ")");
      return false;
    }
    report_.older_version = report_.version < kStoreVersion;
    return true;
  }

  // SQLite's own check of the file: pages, free lists, indexes.
  bool CheckIntegrity() {
    Query query = Prepare("PRAGMA integrity_check");
    if (!query) {
      SqlProblem("the database cannot be checked");
      return false;
    }
    bool sound = true;
    int rc;
    while ((rc = sqlite3_step(query.get())) == SQLITE_ROW) {
      const std::string_view line = Bytes(query.get(), 0);
      if (line != "ok") {
        Problem("", "damaged database: " + std::string(line));
        sound = false;
      }
    }
    if (rc != SQLITE_DONE) {
      SqlProblem("damaged database");
      return false;
    }
    return sound;
  }

  std::string Columns(const char* table) {
    std::string columns;
    Query query = Prepare("SELECT name FROM pragma_table_info(?1) ORDER BY cid");
    if (!query)
      return columns;
    sqlite3_bind_text(query.get(), 1, table, -1, SQLITE_STATIC);
    while (sqlite3_step(query.get()) == SQLITE_ROW) {
      if (!columns.empty())
        columns += ',';
      columns += Bytes(query.get(), 0);
    }
    return columns;
  }

  // Whether a unique index keeps the folded names of one parent apart.
  bool HasNameIndex(const char* table, const char* columns) {
    Query query = Prepare(
        "SELECT count(*) FROM pragma_index_list(?1) AS l WHERE l.\"unique\" AND"
        " (SELECT group_concat(name) FROM (SELECT name FROM pragma_index_info(l.name)"
        " ORDER BY seqno)) = ?2");
    if (!query)
      return false;
    sqlite3_bind_text(query.get(), 1, table, -1, SQLITE_STATIC);
    sqlite3_bind_text(query.get(), 2, columns, -1, SQLITE_STATIC);
    return sqlite3_step(query.get()) == SQLITE_ROW && sqlite3_column_int64(query.get(), 0) > 0;
  }

  bool CheckLayout() {
    bool sound = true;
    for (const auto& [table, expected] :
         {std::pair{"keys", kKeyColumns}, {"vals", kValueColumns}}) {
      const std::string found = Columns(table);
      if (found != expected) {
        Problem("", std::string("the table ") + table + " has the columns (" + found +
                        ") instead of (" + expected + ")");
        sound = false;
      }
    }
    if (!sound)
      return false;
    keys_indexed_ = HasNameIndex("keys", "parent,folded");
    values_indexed_ = HasNameIndex("vals", "key,folded");
    if (!keys_indexed_)
      Problem("", "no unique index on keys(parent, folded) keeps two keys of one name apart");
    if (!values_indexed_)
      Problem("", "no unique index on vals(key, folded) keeps two values of one name apart");
    return true;
  }

  void CheckRootKeys() {
    Query query = Prepare("SELECT parent, name FROM keys WHERE id = ?1");
    if (!query) {
      SqlProblem("the root keys cannot be read");
      return;
    }
    for (std::size_t i = 0; i < regdefs::kRootKeyCount; ++i) {
      const std::string_view name = regdefs::kRootKeys[i].name;
      sqlite3_reset(query.get());
      sqlite3_bind_int64(query.get(), 1, kFirstRootId + static_cast<std::int64_t>(i));
      if (sqlite3_step(query.get()) != SQLITE_ROW) {
        Problem(std::string(name), "the root key is missing");
      } else if (sqlite3_column_int64(query.get(), 0) != 0 || Bytes(query.get(), 1) != name) {
        Problem(std::string(name),
                "the root key's row holds another key, " + Quoted(Bytes(query.get(), 1)));
      }
    }
    EachRow("SELECT id FROM keys WHERE parent = 0 AND (id < 1 OR id > 5)", "keys cannot be read",
            [&](sqlite3_stmt* row) {
              KeyProblem(sqlite3_column_int64(row, 0), "a key without a parent is no root key");
            });
  }

  // Checks a name's folded form, as a key's or a value's (`what`).
  void CheckFolded(std::int64_t key_id, sqlite3_stmt* row, int name, int folded, const char* what) {
    const std::string_view stored = Bytes(row, name);
    FoldNameInto(stored, &fold_);
    if (sqlite3_column_type(row, folded) != SQLITE_TEXT || Bytes(row, folded) != fold_) {
      KeyProblem(key_id, std::string("the folded form ") + Quoted(Bytes(row, folded)) + " of the " +
                             what + " " + Quoted(stored) + " should be " + Quoted(fold_));
    }
  }

  void CheckKeys() {
    EachRow(
        "SELECT id, parent, name, folded, flags, typeof(flags) FROM keys", "keys cannot be read",
        [&](sqlite3_stmt* row) {
          ++report_.keys;
          const std::int64_t id = sqlite3_column_int64(row, 0);
          CheckFolded(id, row, 2, 3, "key name");
          const std::string_view name = Bytes(row, 2);
          if (sqlite3_column_int64(row, 1) != 0 &&
              (name.empty() || name.size() > kMaxKeyNameLength ||
               name.find('\\') != std::string_view::npos)) {
            KeyProblem(id,
                       "the key name " + Quoted(name) + " is empty, too long or holds a backslash");
          }
          const std::int64_t flags = sqlite3_column_int64(row, 4);
          if (Bytes(row, 5) != "integer" ||
              (flags & ~static_cast<std::int64_t>(kKeyProtected | kKeyValuesLocked)) != 0) {
            KeyProblem(id, "the key's flags " + std::string(Bytes(row, 4)) + " are out of range");
          }
        });
    EachRow(
        "SELECT k.id, k.parent FROM keys AS k LEFT JOIN keys AS p ON p.id = k.parent"
        " WHERE k.parent != 0 AND p.id IS NULL",
        "keys cannot be read", [&](sqlite3_stmt* row) {
          KeyProblem(sqlite3_column_int64(row, 0),
                     "the key's parent (key " + std::to_string(sqlite3_column_int64(row, 1)) +
                         ") does not exist");
        });
    // Keys whose parents exist but lead round in a loop are reached from no
    // root key.
    std::int64_t reached = 0;
    if (Integer("WITH RECURSIVE r(id) AS (SELECT id FROM keys WHERE parent = 0 UNION ALL"
                " SELECT keys.id FROM keys JOIN r ON keys.parent = r.id) SELECT count(*) FROM r",
                &reached) &&
        static_cast<std::uint64_t>(reached) < report_.keys) {
      EachRow(
          "WITH RECURSIVE r(id) AS (SELECT id FROM keys WHERE parent = 0 UNION ALL"
          " SELECT keys.id FROM keys JOIN r ON keys.parent = r.id)"
          " SELECT k.id FROM keys AS k JOIN keys AS p ON p.id = k.parent"
          " WHERE k.id NOT IN (SELECT id FROM r)",
          "keys cannot be read", [&](sqlite3_stmt* row) {
            KeyProblem(sqlite3_column_int64(row, 0),
                       "the key lies in a loop of keys: no root key leads to it");
          });
    }
    if (!keys_indexed_) {
      EachRow("SELECT min(id), folded FROM keys GROUP BY parent, folded HAVING count(*) > 1",
              "keys cannot be read", [&](sqlite3_stmt* row) {
                KeyProblem(sqlite3_column_int64(row, 0),
                           "two keys of the same name " + Quoted(Bytes(row, 1)) + " beside it");
              });
    }
  }

  void CheckValues() {
    EachRow("SELECT key, name, folded, type, typeof(type), typeof(data) FROM vals",
            "values cannot be read", [&](sqlite3_stmt* row) {
              ++report_.values;
              const std::int64_t key = sqlite3_column_int64(row, 0);
              CheckFolded(key, row, 1, 2, "value name");
              const std::int64_t type = sqlite3_column_int64(row, 3);
              if (Bytes(row, 4) != "integer" || type < 0 || type > 0xFFFFFFFFll) {
                KeyProblem(key, "the type " + std::string(Bytes(row, 3)) + " of the value " +
                                    Quoted(Bytes(row, 1)) + " is out of range");
              }
              if (Bytes(row, 5) != "blob") {
                KeyProblem(key, "the data of the value " + Quoted(Bytes(row, 1)) +
                                    " is no blob but " + std::string(Bytes(row, 5)));
              }
            });
    EachRow(
        "SELECT v.key, v.name FROM vals AS v LEFT JOIN keys AS k ON k.id = v.key"
        " WHERE k.id IS NULL",
        "values cannot be read", [&](sqlite3_stmt* row) {
          Problem("(missing key " + std::to_string(sqlite3_column_int64(row, 0)) + ")",
                  "the value " + Quoted(Bytes(row, 1)) + " belongs to a key that does not exist");
        });
    if (!values_indexed_) {
      EachRow("SELECT key, folded FROM vals GROUP BY key, folded HAVING count(*) > 1",
              "values cannot be read", [&](sqlite3_stmt* row) {
                KeyProblem(sqlite3_column_int64(row, 0),
                           "two values of the same name " + Quoted(Bytes(row, 1)));
              });
    }
  }

  // Key ids are never given twice: the sequence is at least the highest id.
  void CheckSequence() {
    std::int64_t behind = 0;
    if (Integer("SELECT (SELECT max(id) FROM keys) >"
                " coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'keys'), 0)",
                &behind) &&
        behind) {
      Problem("", "the sequence of key ids is behind the highest key id");
    }
  }

  sqlite3* db_;
  StoreCheckReport& report_;
  Query path_query_;
  std::string fold_;
  bool keys_indexed_ = false;
  bool values_indexed_ = false;
};

}  // namespace

bool CheckStoreFile(const std::string& path, StoreCheckReport* report, std::string* detail) {
  *report = StoreCheckReport();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    *detail =
        path + (errno == ENOENT ? " does not exist" : ": " + std::string(std::strerror(errno)));
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *detail = path + " is not a file";
    return false;
  }
  if (::access(path.c_str(), R_OK) != 0) {
    *detail = path + " cannot be read: " + std::strerror(errno);
    return false;
  }
  // The checker changes nothing in the store; it opens it for writing when
  // it may only so that it can read a write-ahead log that no writer holds.
  const bool writable = ::access(path.c_str(), W_OK) == 0;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &raw, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, StoreVfsName());
  Connection db(raw);
  if (rc != SQLITE_OK) {
    *detail = path + " cannot be opened: " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    return false;
  }
  sqlite3_busy_timeout(db.get(), 5000);
  sqlite3_exec(db.get(), "PRAGMA query_only=1", nullptr, nullptr, nullptr);
  Checker(db.get(), report).Run();
  return true;
}

}  // namespace regstore
