// The store's writes to its log are gathered per commit. A transaction too
// large for SQLite's page cache writes pages to the log before its commit,
// reads them back and writes some of them again in place: what another
// connection then reads must be exactly what was written.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

#include "regstore/names.h"
#include "regstore/regstore.h"
#include "regstore/schema.h"
#include "testing/posix/store_key.h"
#include "testing/registry_contents.h"
#include "testing/temp_files.h"

namespace {

using namespace regdefs;

std::vector<std::uint8_t> Block(int value, int round) {
  std::vector<std::uint8_t> data(100 * 1024);
  std::uint32_t x = static_cast<std::uint32_t>(value * 7919 + round * 104729 + 1);
  for (std::uint8_t& byte : data) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 24);
  }
  return data;
}

TEST(StoreLog, LargeTransactionReadsBackWhatItWrote) {
  testing_support::ScopedTestRegistry registry;
  constexpr int kValues = 40;  // 4 MB, twice SQLite's page cache
  RegKey key = kNullKey;
  ASSERT_EQ(regstore::CreateKey(kHkeyCurrentUser, "Software\\BrevlinTest\\Large", kKeyAllAccess,
                                &key, nullptr),
            kErrorSuccess);
  for (int round = 0; round < 2; ++round) {
    for (int v = round; v < kValues; v += round + 1) {
      std::vector<std::uint8_t> data = Block(v, round);
      ASSERT_EQ(regstore::SetValue(key, ("V" + std::to_string(v)).c_str(), kRegBinary, data.data(),
                                   static_cast<std::uint32_t>(data.size())),
                kErrorSuccess);
    }
  }
  ASSERT_EQ(regstore::CloseKey(key), kErrorSuccess);
  EXPECT_EQ(regstore::CommitPending(), regdefs::kErrorSuccess);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(registry.StorePath().c_str(), &other, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(other, "PRAGMA integrity_check", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "ok");
  sqlite3_finalize(stmt);
  ASSERT_EQ(
      sqlite3_prepare_v2(other, "SELECT name, data FROM vals ORDER BY id", -1, &stmt, nullptr),
      SQLITE_OK);
  int rows = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const int v = std::stoi(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)) + 1);
    // The odd values were written again in the second round.
    const std::vector<std::uint8_t> expected = Block(v, v % 2);
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, 1));
    EXPECT_EQ(std::vector<std::uint8_t>(data, data + sqlite3_column_bytes(stmt, 1)), expected)
        << "V" << v;
    ++rows;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(other);
  EXPECT_EQ(rows, kValues);
}

int PageSize(const std::string& path) {
  sqlite3* db = nullptr;
  int size = 0;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      size = sqlite3_column_int(stmt, 0);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return size;
}

// New stores are made with small pages; a store made with SQLite's usual
// 4 KiB pages (as earlier versions made them) keeps them and works as before.
TEST(StoreFile, PageSizeOfNewAndExistingStores) {
  testing_support::ScopedTestRegistry registry;
  ASSERT_TRUE(testing_support::StoreKeyTakesWrites(kHkeyCurrentUser, "Software\\BrevlinTest"));
  EXPECT_EQ(PageSize(registry.StorePath()), 2048);

  const std::string old_store = testing_support::WriteTempFile("", "old-store.db");
  std::remove(old_store.c_str());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(old_store.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA page_size=4096; PRAGMA journal_mode=WAL;", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, regstore::StoreSchemaSql(), nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(
          db, ("PRAGMA application_id=" + std::to_string(regstore::kStoreApplicationId)).c_str(),
          nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);

  regstore::UseStorePath(old_store);
  RegKey key = kNullKey;
  ASSERT_EQ(regstore::CreateKey(kHkeyCurrentUser, "Software\\Old", kKeyAllAccess, &key, nullptr),
            kErrorSuccess);
  const std::uint8_t data[3] = {7, 8, 9};
  EXPECT_EQ(regstore::SetValue(key, "v", kRegBinary, data, 3), kErrorSuccess);
  EXPECT_EQ(regstore::CloseKey(key), regdefs::kErrorSuccess);
  auto value = testing_support::ReadValue(kHkeyCurrentUser, "Software\\Old", "v");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, std::vector<std::uint8_t>(data, data + 3));
  regstore::UseStorePath(registry.StorePath());
  EXPECT_EQ(PageSize(old_store), 4096);
  std::remove(old_store.c_str());
}

}  // namespace
