// The store checker passes the stores the store makes and names each kind of
// damage, with the key it concerns; a store whose file lost a page to
// garbage is never passed.
#include "regstore/store_check.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "regstore/regstore.h"
#include "regstore/schema.h"
#include "testing/temp_files.h"

namespace {

using regstore::StoreCheckReport;

// Points the store at a file of its own for one test.
class UsingStore {
 public:
  explicit UsingStore(const std::string& path) : previous_(regstore::StorePath()) {
    regstore::UseStorePath(path);
  }
  ~UsingStore() { regstore::UseStorePath(previous_); }

 private:
  std::string previous_;
};

int Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return rc;
}

// A store with a few keys and values, made through the store's functions and
// left committed, its log moved into the file.
std::string MakeStore() {
  const std::string path = testing_support::JoinPath(testing_support::NewTempDir(), "check.db");
  UsingStore use(path);
  regstore::RegKey key = 0;
  EXPECT_EQ(regstore::CreateKey(regdefs::kHkeyCurrentUser, "Software\\Caf\xE9\\Sub",
                                regdefs::kKeyAllAccess, &key, nullptr),
            regdefs::kErrorSuccess);
  const std::uint8_t data[] = {1, 0, 0, 0};
  for (const char* name : {"One", "\xC4rger", ""})
    EXPECT_EQ(regstore::SetValue(key, name, regdefs::kRegDword, data, 4), regdefs::kErrorSuccess);
  EXPECT_EQ(regstore::CloseKey(key), regdefs::kErrorSuccess);
  EXPECT_EQ(regstore::CommitPending(), regdefs::kErrorSuccess);
  return path;
}

StoreCheckReport Check(const std::string& path) {
  StoreCheckReport report;
  std::string detail;
  EXPECT_TRUE(regstore::CheckStoreFile(path, &report, &detail)) << detail;
  return report;
}

std::string Problems(const StoreCheckReport& report) {
  std::string text;
  for (const auto& problem : report.problems)
    text += problem.key_path + ": " + problem.text + "\n";
  return text;
}

TEST(StoreCheck, PassesAStoreTheStoreMade) {
  const std::string path = MakeStore();
  const StoreCheckReport report = Check(path);
  EXPECT_TRUE(report.sound()) << Problems(report);
  EXPECT_EQ(report.version, regstore::kStoreVersion);
  EXPECT_EQ(report.keys, 8u);  // five root keys, Software, Café, Sub
  EXPECT_EQ(report.values, 3u);
}

TEST(StoreCheck, NamesEachKindOfDamageWithItsKey) {
  struct Case {
    const char* what;
    const char* sql;
    const char* key_path;  // the path the problem names
    const char* text;      // part of its text
  };
  const Case cases[] = {
      {"folded form of a key", "UPDATE keys SET folded = 'SUB ' WHERE name = 'Sub'",
       "HKEY_CURRENT_USER\\Software\\Caf\xE9\\Sub", "should be \"SUB\""},
      {"folded form of a value", "UPDATE vals SET folded = 'one' WHERE name = 'One'",
       "HKEY_CURRENT_USER\\Software\\Caf\xE9\\Sub", "should be \"ONE\""},
      {"two names that are one",
       "CREATE TABLE v2 AS SELECT * FROM vals;"
       " DROP TABLE vals; ALTER TABLE v2 RENAME TO vals;"
       " INSERT INTO vals(key, name, folded, type, data) SELECT key, 'ONE', 'ONE', 4, x'00'"
       " FROM vals WHERE name = 'One'",
       "HKEY_CURRENT_USER\\Software\\Caf\xE9\\Sub", "two values of the same name \"ONE\""},
      {"flags out of range", "UPDATE keys SET flags = 8 WHERE name = 'Sub'",
       "HKEY_CURRENT_USER\\Software\\Caf\xE9\\Sub", "flags 8 are out of range"},
      {"type out of range", "UPDATE vals SET type = -1 WHERE name = 'One'",
       "HKEY_CURRENT_USER\\Software\\Caf\xE9\\Sub", "type -1"},
      {"data no blob", "UPDATE vals SET data = 'text' WHERE name = 'One'",
       "HKEY_CURRENT_USER\\Software\\Caf\xE9\\Sub", "no blob but text"},
      {"parent missing", "UPDATE keys SET parent = 999 WHERE name = 'Sub'",
       "(missing key 999)\\Sub", "parent (key 999) does not exist"},
      {"loop of keys",
       "UPDATE keys SET parent = (SELECT id FROM keys WHERE name = 'Sub')"
       " WHERE name = 'Caf\xE9'",
       "(a loop of keys)", "no root key leads to it"},
      {"value of no key", "UPDATE vals SET key = 999 WHERE name = 'One'", "(missing key 999)",
       "belongs to a key that does not exist"},
      {"root key missing", "DELETE FROM keys WHERE id = 5", "HKEY_CURRENT_CONFIG",
       "root key is missing"},
      {"backslash in a key name",
       "UPDATE keys SET name = 'A\\B', folded = 'A\\B' WHERE name = 'Sub'",
       "HKEY_CURRENT_USER\\Software\\Caf\xE9\\A\\B", "holds a backslash"},
      {"ids given again", "UPDATE sqlite_sequence SET seq = 2 WHERE name = 'keys'", "",
       "sequence of key ids is behind"},
      {"newer version", "PRAGMA user_version = 99", "", "newer version"},
      {"not a store", "PRAGMA application_id = 7", "", "not a registry store"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = MakeStore();
    ASSERT_EQ(Sql(path, c.sql), SQLITE_OK);
    const StoreCheckReport report = Check(path);
    ASSERT_FALSE(report.sound());
    bool named = false;
    for (const auto& problem : report.problems) {
      named = named || (problem.key_path.rfind(c.key_path, 0) == 0 &&
                        problem.text.find(c.text) != std::string::npos);
    }
    EXPECT_TRUE(named) << Problems(report);
  }
}

// A page of the file overwritten with garbage, as a torn write or a stray
// write would leave it, fails the check, wherever the page lies.
TEST(StoreCheck, FailsAStoreWithAnOverwrittenPage) {
  const std::string sound = MakeStore();
  std::int64_t pages = 0;
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(sound.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &stmt, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    pages = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }
  ASSERT_GT(pages, 2);
  const std::string bytes = testing_support::ReadWholeFile(sound);
  const std::size_t page_size = bytes.size() / static_cast<std::size_t>(pages);
  for (std::int64_t page = 0; page < pages; ++page) {
    SCOPED_TRACE("page " + std::to_string(page + 1));
    std::string damaged = bytes;
    for (std::size_t i = 0; i < page_size; ++i)
      damaged[static_cast<std::size_t>(page) * page_size + i] = static_cast<char>(0x5A ^ (i * 7));
    const std::string path = testing_support::WriteTempFile(damaged, "damaged.db");
    StoreCheckReport report;
    std::string detail;
    const bool opened = regstore::CheckStoreFile(path, &report, &detail);
    EXPECT_TRUE(!opened || !report.sound()) << "passed a damaged store";
  }
}

TEST(StoreCheck, MissingFileIsNoStore) {
  StoreCheckReport report;
  std::string detail;
  EXPECT_FALSE(
      regstore::CheckStoreFile(testing_support::NewTempDir() + "/none.db", &report, &detail));
  EXPECT_NE(detail.find("does not exist"), std::string::npos) << detail;
}

}  // namespace
