// When the store commits a group of changes: another connection to the same
// file, as another process would have, sees a group once it is committed and
// nothing of it before. The limits are set per test, so that the rule under
// test is the only one that can end a group.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <string>
#include <thread>

#include "regstore/store.h"
#include "testing/posix/store_key.h"
#include "testing/registry_contents.h"
#include "testing/temp_files.h"

namespace {

using namespace regdefs;
using std::chrono::milliseconds;
using testing_support::ScopedStoreKey;

constexpr milliseconds kNever(3600 * 1000);

class WriteBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(regstore::ConnectStore(nullptr), kErrorSuccess);
    ASSERT_EQ(
        sqlite3_open_v2(registry_.StorePath().c_str(), &other_, SQLITE_OPEN_READONLY, nullptr),
        SQLITE_OK);
  }
  void TearDown() override {
    sqlite3_close(other_);
    SetLimits(regstore::kGroupAge, regstore::kGroupKeys);
  }

  static void SetLimits(milliseconds age, std::uint64_t keys) {
    regstore::Store::Instance().SetGroupLimits(age, keys);
  }

  // Writes the key Software\BrevlinTest\K<n> with three values and closes it.
  static void WriteKey(int n) {
    ScopedStoreKey key;
    ASSERT_EQ(key.Create(kHkeyCurrentUser, "Software\\BrevlinTest\\K" + std::to_string(n)),
              kErrorSuccess);
    for (int v = 0; v < 3; ++v) {
      const std::uint8_t data[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(v), 0,
                                    0};
      ASSERT_EQ(
          regstore::SetValue(key.get(), ("V" + std::to_string(v)).c_str(), kRegDword, data, 4),
          kErrorSuccess);
    }
    ASSERT_EQ(key.Close(), kErrorSuccess);
  }

  // The values that the other connection sees below Software\BrevlinTest.
  int ValuesSeen() {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(other_,
                                 "SELECT count(*) FROM vals JOIN keys ON keys.id = vals.key"
                                 " WHERE keys.name LIKE 'K%'",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    int count = -1;
    if (sqlite3_step(stmt) == SQLITE_ROW)
      count = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    return count;
  }

  testing_support::ScopedTestRegistry registry_;
  sqlite3* other_ = nullptr;
};

TEST_F(WriteBatchTest, GroupEndsAtItsKeyLimit) {
  SetLimits(kNever, 10);
  for (int k = 0; k < 9; ++k)
    WriteKey(k);
  EXPECT_EQ(ValuesSeen(), 0);
  WriteKey(9);  // the tenth key's close ends the group
  EXPECT_EQ(ValuesSeen(), 30);
  for (int k = 10; k < 15; ++k)
    WriteKey(k);
  EXPECT_EQ(ValuesSeen(), 30);
  EXPECT_EQ(regstore::CommitPending(), regdefs::kErrorSuccess);
  EXPECT_EQ(ValuesSeen(), 45);
}

TEST_F(WriteBatchTest, KeyWrittenThroughTwoHandlesCountsOnce) {
  // A write check creates the key and closes it; the writes that follow open
  // it again: one key of the group, not two.
  SetLimits(kNever, 2);
  ScopedStoreKey check;
  ASSERT_EQ(check.Create(kHkeyCurrentUser, "Software\\BrevlinTest\\K0"), kErrorSuccess);
  ASSERT_EQ(check.Close(), kErrorSuccess);
  WriteKey(0);
  EXPECT_EQ(ValuesSeen(), 0);
  WriteKey(1);
  EXPECT_EQ(ValuesSeen(), 6);
}

TEST_F(WriteBatchTest, OldGroupIsCommittedWithoutAnotherCall) {
  const milliseconds age(400);
  SetLimits(age, 1000000);
  const auto start = std::chrono::steady_clock::now();
  WriteKey(0);
  const bool seen_at_once = ValuesSeen() != 0;
  while (ValuesSeen() == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
    std::this_thread::sleep_for(milliseconds(5));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(seen_at_once);
  EXPECT_EQ(ValuesSeen(), 3);
  EXPECT_GE(elapsed, age);
}

TEST_F(WriteBatchTest, ChangedKeyHeldOpenHoldsTheGroupTogether) {
  // Due at once, but a key with changes is open: its values and those of the
  // keys closed meanwhile wait for its close.
  SetLimits(milliseconds(0), 1);
  ScopedStoreKey open;
  ASSERT_EQ(open.Create(kHkeyCurrentUser, "Software\\BrevlinTest\\KOpen"), kErrorSuccess);
  const std::uint8_t one[4] = {1, 0, 0, 0};
  ASSERT_EQ(regstore::SetValue(open.get(), "A", kRegDword, one, 4), kErrorSuccess);
  WriteKey(0);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(ValuesSeen(), 0);
  ASSERT_EQ(regstore::SetValue(open.get(), "B", kRegDword, one, 4), kErrorSuccess);
  EXPECT_EQ(ValuesSeen(), 0);
  ASSERT_EQ(open.Close(), kErrorSuccess);
  EXPECT_EQ(ValuesSeen(), 5);
}

TEST_F(WriteBatchTest, OtherWritersMayWriteBetweenGroups) {
  SetLimits(kNever, 1000000);
  WriteKey(0);
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(registry_.StorePath().c_str(), &writer), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_BUSY);
  EXPECT_EQ(regstore::CommitPending(), regdefs::kErrorSuccess);
  EXPECT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(writer);
}

}  // namespace
