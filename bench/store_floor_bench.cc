// The SQLite floor under an import: the rows that a configuration file
// would leave in a registry store, inserted straight into the store's tables
// with prepared statements and nothing else: no probe, no lookups, no
// handles. The comparison script times it as a process beside
// register-brevlin on the same file.
//
//   store_floor_bench per-key|single CONFIG_FILE STORE_FILE
//
// per-key: one transaction per key line (the least that the store's
// durability rule allows, since a key's values must be committed when it is
// closed); single: one transaction for the whole file. The file is read and
// decoded into memory first, so that the inserts are all that is measured
// beyond the start-up. Only key lines and "string", "integer" and "binary"
// value lines below HKEY_CURRENT_USER are taken: the workload has nothing
// else.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/exceptions.h"
#include "common/globals.h"
#include "import/config_line.h"
#include "import/imp_exp_reg.h"
#include "import/text_reader.h"
#include "platform/registry.h"
#include "regstore/names.h"
#include "regstore/schema.h"

namespace {

struct Value {
  std::string name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

struct Key {
  std::vector<std::string> names;  // the path, name by name
  std::vector<Value> values;
};

std::vector<Key> ReadKeys(const std::string& file) {
  std::vector<Key> keys;
  TTextReader reader;
  reader.Open(file);
  while (!reader.Eof()) {
    std::string_view line = reader.ReadLineView();
    LineKind kind = ClassifyLine(line);
    if (kind == LineKind::kKey) {
      Key key;
      std::string_view path = KeyPathOf(line);
      for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
          end = path.size();
        if (end > start)
          key.names.emplace_back(path.substr(start, end - start));
        start = end + 1;
      }
      keys.push_back(std::move(key));
    } else if (kind == LineKind::kValue && !keys.empty()) {
      ValueFields fields = SplitValueLine(line);
      Value value;
      value.name = std::string(fields.name);
      switch (ValueTypeOf(fields.type_word)) {
        case ValueType::kString:
          value.type = plat::kRegSz;
          value.data.assign(fields.text.begin(), fields.text.end());
          value.data.push_back(0);
          break;
        case ValueType::kInteger: {
          std::int32_t n = LocaleStrToInt(fields.text);
          value.type = plat::kRegDword;
          value.data.resize(4);
          std::memcpy(value.data.data(), &n, 4);
          break;
        }
        case ValueType::kBinary:
          value.type = plat::kRegBinary;
          value.data = HexTripletsToBytes(fields.text);
          break;
        case ValueType::kNone:
          continue;
      }
      keys.back().values.push_back(std::move(value));
    }
  }
  reader.Close();
  return keys;
}

class Floor {
 public:
  explicit Floor(sqlite3* db) : db_(db) {
    Prepare("BEGIN IMMEDIATE", &begin_);
    Prepare("COMMIT", &commit_);
    Prepare("INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)", &insert_key_);
    Prepare("INSERT INTO vals(key, name, type, data, folded) VALUES(?1, ?2, ?3, ?4, ?5)",
            &insert_value_);
  }
  ~Floor() {
    for (sqlite3_stmt* stmt : {begin_, commit_, insert_key_, insert_value_})
      sqlite3_finalize(stmt);
  }

  void Begin() { Step(begin_); }
  void Commit() { Step(commit_); }

  // Inserts the keys of the path that are not there yet, then the values.
  void Insert(const Key& key) {
    std::int64_t id = regstore::kFirstRootId + 1;  // HKEY_CURRENT_USER
    std::string path;
    for (const std::string& name : key.names) {
      path += '\\';
      path += name;
      auto it = ids_.find(path);
      if (it != ids_.end()) {
        id = it->second;
        continue;
      }
      sqlite3_bind_int64(insert_key_, 1, id);
      sqlite3_bind_text(insert_key_, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
      // Every name goes in with its folded form, as the store keeps it.
      regstore::FoldNameInto(name, &folded_);
      sqlite3_bind_text(insert_key_, 3, folded_.data(), static_cast<int>(folded_.size()),
                        SQLITE_STATIC);
      Step(insert_key_);
      id = sqlite3_last_insert_rowid(db_);
      ids_.emplace(path, id);
    }
    for (const Value& value : key.values) {
      sqlite3_bind_int64(insert_value_, 1, id);
      sqlite3_bind_text(insert_value_, 2, value.name.data(), static_cast<int>(value.name.size()),
                        SQLITE_STATIC);
      sqlite3_bind_int64(insert_value_, 3, value.type);
      sqlite3_bind_blob(insert_value_, 4, value.data.data(), static_cast<int>(value.data.size()),
                        SQLITE_STATIC);
      regstore::FoldNameInto(value.name, &folded_);
      sqlite3_bind_text(insert_value_, 5, folded_.data(), static_cast<int>(folded_.size()),
                        SQLITE_STATIC);
      Step(insert_value_);
    }
  }

  bool ok() const { return ok_; }

 private:
  void Prepare(const char* sql, sqlite3_stmt** stmt) {
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, stmt, nullptr) != SQLITE_OK)
      Report();
  }
  void Step(sqlite3_stmt* stmt) {
    if (sqlite3_step(stmt) != SQLITE_DONE)
      Report();
    sqlite3_reset(stmt);
  }
  void Report() {
    if (ok_)
      std::fprintf(stderr, "store_floor_bench: %s\n", sqlite3_errmsg(db_));
    ok_ = false;
  }

  std::string folded_;
  sqlite3* db_;
  bool ok_ = true;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  sqlite3_stmt* insert_key_ = nullptr;
  sqlite3_stmt* insert_value_ = nullptr;
  std::map<std::string, std::int64_t> ids_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "per-key") != 0 && std::strcmp(argv[1], "single") != 0)) {
    std::fprintf(stderr, "usage: store_floor_bench per-key|single CONFIG_FILE STORE_FILE\n");
    return 2;
  }
  const bool per_key = std::strcmp(argv[1], "per-key") == 0;
  std::vector<Key> keys;
  try {
    keys = ReadKeys(argv[2]);
  } catch (const Exception& error) {
    std::fprintf(stderr, "store_floor_bench: %s: %s\n", argv[2], error.Message().c_str());
    return 1;
  }

  // A new store, set up as the registry store sets up its own.
  regstore::ConfigureSqliteLibrary();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[3], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
          SQLITE_OK ||
      regstore::ConfigureStoreConnection(db) != SQLITE_OK ||
      sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, regstore::StoreSchemaSql(), nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "store_floor_bench: %s: %s\n", argv[3], sqlite3_errmsg(db));
    sqlite3_close(db);
    return 1;
  }
  bool ok;
  {
    Floor floor(db);
    if (!per_key)
      floor.Begin();
    for (const Key& key : keys) {
      if (per_key)
        floor.Begin();
      floor.Insert(key);
      if (per_key)
        floor.Commit();
    }
    if (!per_key)
      floor.Commit();
    ok = floor.ok();
  }
  sqlite3_close(db);
  return ok ? 0 : 1;
}
