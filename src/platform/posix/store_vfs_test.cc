// The store's writes to its log are gathered per commit. A transaction too
// large for SQLite's page cache writes pages to the log before its commit,
// reads them back and writes some of them again in place: what another
// connection then reads must be exactly what was written.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace {

using namespace plat;

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
  ASSERT_EQ(RegCreateKeyExA(kHkeyCurrentUser, "Software\\BrevlinTest\\Large", 0, nullptr, 0,
                            kKeyAllAccess, nullptr, &key, nullptr),
            kErrorSuccess);
  for (int round = 0; round < 2; ++round) {
    for (int v = round; v < kValues; v += round + 1) {
      std::vector<std::uint8_t> data = Block(v, round);
      ASSERT_EQ(RegSetValueExA(key, ("V" + std::to_string(v)).c_str(), 0, kRegBinary, data.data(),
                               static_cast<std::uint32_t>(data.size())),
                kErrorSuccess);
    }
  }
  ASSERT_EQ(RegCloseKey(key), kErrorSuccess);

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

}  // namespace
