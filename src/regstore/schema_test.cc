// Stores made before stores had a version are brought up to date when a
// program first writes to them; stores of a later version are refused.
#include "regstore/schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

#include "regstore/names.h"
#include "regstore/regstore.h"
#include "testing/posix/store_key.h"
#include "testing/registry_contents.h"
#include "testing/temp_files.h"

namespace {

using namespace regdefs;

// The tables as the first released version made them (names compared in
// ASCII letter case only), holding keys and values whose names are one name
// for the registry: "Café" and "CAFÉ" below Software (the second protected),
// their subkeys "Sub" and "sub", and the values "Ä" and "ä". Key 20 was made
// and deleted again, so that the next key id is 21.
const char kVersion0Store[] =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA application_id=1382377299;"
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE, flags INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE(parent, name));"
    "CREATE TABLE vals(id INTEGER PRIMARY KEY, key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " UNIQUE(key, name));"
    "INSERT INTO keys(id, parent, name) VALUES (1, 0, 'HKEY_CLASSES_ROOT'),"
    " (2, 0, 'HKEY_CURRENT_USER'), (3, 0, 'HKEY_LOCAL_MACHINE'), (4, 0, 'HKEY_USERS'),"
    " (5, 0, 'HKEY_CURRENT_CONFIG');"
    "INSERT INTO keys(id, parent, name, flags) VALUES (6, 2, 'Software', 0),"
    " (7, 6, 'Caf\xE9', 0), (8, 6, 'CAF\xC9', 1), (9, 7, 'Sub', 0), (10, 8, 'sub', 0),"
    " (11, 8, 'Other', 0), (12, 6, 'Plain', 0), (20, 6, 'Gone', 0);"
    "DELETE FROM keys WHERE id = 20;"
    "INSERT INTO vals(id, key, name, type, data) VALUES (1, 7, '\xC4', 4, x'01000000'),"
    " (2, 8, '\xE4', 4, x'02000000'), (3, 8, 'Only', 4, x'03000000'),"
    " (4, 10, 'Deep', 4, x'04000000'), (5, 12, '\xC4', 4, x'05000000'),"
    " (6, 12, '\xE4', 4, x'06000000');";

int Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  if (rc == SQLITE_OK)
    rc = regstore::RegisterOldNameCollation(db);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return rc;
}

std::string QueryText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string text;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      regstore::RegisterOldNameCollation(db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      if (!text.empty())
        text += ",";
      text += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return text;
}

std::uint32_t Dword(const std::string& path, const std::string& name) {
  auto value = testing_support::ReadValue(kHkeyCurrentUser, path, name);
  if (!value || value->data.size() != 4)
    return 0xFFFFFFFFu;
  return value->data[0];
}

TEST(StoreVersion, Version0StoreIsMergedAsTheRegistryNamesIt) {
  testing_support::ScopedTestRegistry registry;
  const std::string path = testing_support::WriteTempFile("", "version0.db");
  std::remove(path.c_str());
  ASSERT_EQ(Exec(path, kVersion0Store), SQLITE_OK);
  regstore::UseStorePath(path);
  std::string detail;
  ASSERT_EQ(regstore::ConnectStore(&detail), kErrorSuccess) << detail;

  EXPECT_EQ(QueryText(path, "PRAGMA user_version"), std::to_string(regstore::kStoreVersion));
  regstore::StoreKeyInfo info;
  ASSERT_EQ(regstore::StoreFindKey(kHkeyCurrentUser, "Software\\CAF\xC9", &info), kErrorSuccess);
  EXPECT_EQ(info.path, "Software\\Caf\xE9");  // the key made first keeps its name
  EXPECT_EQ(info.flags & regstore::kKeyProtected, regstore::kKeyProtected);
  // The later key's values and keys are the earlier key's now; a value of
  // the same name takes the data written later.
  EXPECT_EQ(testing_support::ValueNames(kHkeyCurrentUser, "Software\\Caf\xE9"),
            (std::vector<std::string>{"\xC4", "Only"}));
  EXPECT_EQ(Dword("Software\\Caf\xE9", "\xE4"), 2u);
  EXPECT_EQ(Dword("Software\\Caf\xE9", "Only"), 3u);
  EXPECT_EQ(Dword("Software\\Caf\xE9\\SUB", "Deep"), 4u);
  ASSERT_EQ(regstore::StoreFindKey(kHkeyCurrentUser, "Software\\caf\xE9\\other", &info),
            kErrorSuccess);
  EXPECT_EQ(info.path, "Software\\Caf\xE9\\Other");
  EXPECT_EQ(testing_support::SubkeyNames(kHkeyCurrentUser, "Software"),
            (std::vector<std::string>{"Caf\xE9", "Plain"}));
  EXPECT_EQ(testing_support::ValueNames(kHkeyCurrentUser, "Software\\Plain"),
            (std::vector<std::string>{"\xC4"}));
  EXPECT_EQ(Dword("Software\\Plain", "\xC4"), 6u);

  // Key ids go on after the highest one ever given.
  testing_support::ScopedStoreKey key;
  ASSERT_EQ(key.Create(kHkeyCurrentUser, "Software\\New"), kErrorSuccess);
  key.Close();
  ASSERT_EQ(regstore::CommitPending(), kErrorSuccess);
  EXPECT_EQ(QueryText(path, "SELECT id FROM keys WHERE name = 'New'"), "21");
  EXPECT_EQ(QueryText(path, "PRAGMA integrity_check"), "ok");
  regstore::UseStorePath(registry.StorePath());
}

TEST(StoreVersion, NewStoresHaveTheCurrentVersion) {
  testing_support::ScopedTestRegistry registry;
  ASSERT_EQ(regstore::ConnectStore(nullptr), kErrorSuccess);
  EXPECT_EQ(QueryText(registry.StorePath(), "PRAGMA user_version"),
            std::to_string(regstore::kStoreVersion));
}

TEST(StoreVersion, StoreOfALaterVersionIsRefusedAndLeftAlone) {
  testing_support::ScopedTestRegistry registry;
  ASSERT_EQ(regstore::ConnectStore(nullptr), kErrorSuccess);
  const std::string path = testing_support::WriteTempFile("", "later.db");
  std::remove(path.c_str());
  ASSERT_EQ(Exec(path, std::string(kVersion0Store) + "PRAGMA user_version=3;"), SQLITE_OK);
  regstore::UseStorePath(path);
  std::string detail;
  EXPECT_EQ(regstore::ConnectStore(&detail), kErrorBadDb);
  EXPECT_NE(detail.find("was made by a newer version of the program (store version 3"),
            std::string::npos)
      << detail;
  EXPECT_EQ(QueryText(path, "PRAGMA user_version"), "3");
  EXPECT_EQ(QueryText(path, "SELECT count(*) FROM keys"), "12");
  regstore::UseStorePath(registry.StorePath());
}

}  // namespace
