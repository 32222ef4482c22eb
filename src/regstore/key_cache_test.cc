// The store remembers the keys it has looked up; changes that another
// connection makes to the store in between must always win over what it
// remembers. The other connection here is a plain SQLite connection to the
// same file, as another process would have.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "regstore/names.h"
#include "regstore/regstore.h"
#include "testing/posix/store_key.h"
#include "testing/registry_contents.h"

namespace {

using namespace regdefs;
using testing_support::ReadValue;

const RegKey kHkcu = kHkeyCurrentUser;

class StoreCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The store is made first: a file that another program made at its path
    // is not a store.
    ASSERT_EQ(regstore::ConnectStore(nullptr), kErrorSuccess);
    ASSERT_EQ(sqlite3_open(registry_.StorePath().c_str(), &other_), SQLITE_OK);
    sqlite3_busy_timeout(other_, 5000);
  }
  void TearDown() override { sqlite3_close(other_); }

  // Runs SQL on the other connection.
  void Other(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(other_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
  }

  // Opens (or creates) a key and closes it again; answers the status and,
  // for a create, whether the key was new.
  Status Open(const std::string& path, std::uint32_t access = kKeyAllAccess) {
    RegKey key = kNullKey;
    Status status = regstore::OpenKey(kHkcu, path.c_str(), access, &key);
    if (status == kErrorSuccess) {
      EXPECT_EQ(regstore::CloseKey(key), regdefs::kErrorSuccess);
    }
    return status;
  }
  Status Create(const std::string& path, bool* created = nullptr) {
    RegKey key = kNullKey;
    std::uint32_t disposition = 0;
    Status status = regstore::CreateKey(kHkcu, path.c_str(), kKeyAllAccess, &key, &disposition);
    if (status == kErrorSuccess) {
      EXPECT_EQ(regstore::CloseKey(key), regdefs::kErrorSuccess);
    }
    if (created)
      *created = disposition == kRegCreatedNewKey;
    return status;
  }

  testing_support::ScopedTestRegistry registry_;
  sqlite3* other_ = nullptr;
};

TEST_F(StoreCacheTest, KeyDeletedElsewhereIsMissingAndCreatedAnew) {
  ASSERT_EQ(Create("Software\\Cache\\Gone"), kErrorSuccess);
  ASSERT_EQ(Open("Software\\Cache\\Gone"), kErrorSuccess);

  Other("DELETE FROM keys WHERE name = 'Gone'");
  EXPECT_EQ(Open("Software\\Cache\\Gone"), kErrorFileNotFound);
  bool created = false;
  EXPECT_EQ(Create("Software\\Cache\\Gone", &created), kErrorSuccess);
  EXPECT_TRUE(created);
}

TEST_F(StoreCacheTest, KeyRecreatedElsewhereTakesTheWrites) {
  ASSERT_EQ(Create("Software\\Cache\\Again"), kErrorSuccess);
  Other(
      "DELETE FROM keys WHERE name = 'Again';"
      "INSERT INTO keys(parent, name, folded) SELECT id, 'Again', 'AGAIN' FROM keys WHERE name = "
      "'Cache'");

  RegKey key = kNullKey;
  ASSERT_EQ(regstore::CreateKey(kHkcu, "Software\\Cache\\Again", kKeyAllAccess, &key, nullptr),
            kErrorSuccess);
  const std::uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(regstore::SetValue(key, "v", kRegBinary, data, 4), kErrorSuccess);
  EXPECT_EQ(regstore::CloseKey(key), regdefs::kErrorSuccess);
  auto value = ReadValue(kHkcu, "Software\\Cache\\Again", "v");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, std::vector<std::uint8_t>(data, data + 4));
}

TEST_F(StoreCacheTest, ProtectionSetElsewhereRefusesWrites) {
  ASSERT_EQ(Create("Software\\Cache\\Guarded\\Inner"), kErrorSuccess);
  ASSERT_EQ(Open("Software\\Cache\\Guarded\\Inner"), kErrorSuccess);

  Other("UPDATE keys SET flags = flags | 1 WHERE name = 'Guarded'");
  EXPECT_EQ(Open("Software\\Cache\\Guarded\\Inner"), kErrorAccessDenied);
  EXPECT_EQ(Create("Software\\Cache\\Guarded\\Inner"), kErrorAccessDenied);
  EXPECT_EQ(Open("Software\\Cache\\Guarded\\Inner", kKeyRead), kErrorSuccess);

  Other("UPDATE keys SET flags = flags & ~1 WHERE name = 'Guarded'");
  EXPECT_EQ(Open("Software\\Cache\\Guarded\\Inner"), kErrorSuccess);
}

TEST_F(StoreCacheTest, KeyCreatedElsewhereAfterAMissIsFound) {
  ASSERT_EQ(Create("Software\\Cache"), kErrorSuccess);
  ASSERT_EQ(Open("Software\\Cache\\Later"), kErrorFileNotFound);
  Other(
      "INSERT INTO keys(parent, name, folded) SELECT id, 'Later', 'LATER' FROM keys WHERE name = "
      "'Cache'");
  EXPECT_EQ(Open("Software\\Cache\\Later"), kErrorSuccess);
  bool created = true;
  EXPECT_EQ(Create("Software\\Cache\\LATER", &created), kErrorSuccess);
  EXPECT_FALSE(created);
}

// A create that follows a failed open of the same key (as the write check
// does) must see what another connection changed in between.
TEST_F(StoreCacheTest, CreateAfterAFailedOpenSeesChangesMadeInBetween) {
  ASSERT_EQ(Create("Software\\Cache"), kErrorSuccess);
  RegKey key = kNullKey;
  ASSERT_EQ(regstore::OpenKey(kHkcu, "Software\\Cache\\New\\Leaf", kKeyAllAccess, &key),
            kErrorFileNotFound);
  Other("DELETE FROM keys WHERE name = 'Cache'");
  bool created = false;
  EXPECT_EQ(Create("Software\\Cache\\New\\Leaf", &created), kErrorSuccess);
  EXPECT_TRUE(created);
  EXPECT_EQ(Open("Software\\Cache\\New\\Leaf"), kErrorSuccess);

  ASSERT_EQ(regstore::OpenKey(kHkcu, "Software\\Cache\\Other", kKeyAllAccess, &key),
            kErrorFileNotFound);
  Other("UPDATE keys SET flags = 1 WHERE name = 'Cache'");
  EXPECT_EQ(Create("Software\\Cache\\Other"), kErrorAccessDenied);
}

// More keys than the cache keeps: every key still gets its own values.
TEST_F(StoreCacheTest, ManyKeysKeepTheirOwnValues) {
  constexpr int kKeys = 1500;
  auto path = [](int k) {
    return "Software\\Cache\\G" + std::to_string(k % 7) + "\\K" + std::to_string(k);
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < kKeys; ++k) {
      RegKey key = kNullKey;
      ASSERT_EQ(regstore::CreateKey(kHkcu, path(k).c_str(), kKeyAllAccess, &key, nullptr),
                kErrorSuccess);
      const std::uint8_t data[4] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                                    static_cast<std::uint8_t>(pass), 0};
      ASSERT_EQ(regstore::SetValue(key, "n", kRegDword, data, 4), kErrorSuccess);
      EXPECT_EQ(regstore::CloseKey(key), regdefs::kErrorSuccess);
    }
  }
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(other_, "SELECT count(*), count(DISTINCT key) FROM vals WHERE name = 'n'",
                         -1, &stmt, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), kKeys);
  EXPECT_EQ(sqlite3_column_int(stmt, 1), kKeys);
  sqlite3_finalize(stmt);
  for (int k = 0; k < kKeys; k += 97) {
    auto value = ReadValue(kHkcu, path(k), "n");
    ASSERT_TRUE(value.has_value()) << path(k);
    EXPECT_EQ(value->data, (std::vector<std::uint8_t>{static_cast<std::uint8_t>(k),
                                                      static_cast<std::uint8_t>(k >> 8), 1, 0}));
  }
}

}  // namespace
