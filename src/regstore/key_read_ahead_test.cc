// Key rows read ahead by id: every take answers the key's own row, whatever
// the order the keys are asked in and however full the room is.
#include "regstore/key_read_ahead.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "regstore/database.h"
#include "regstore/schema.h"

namespace {

using regstore::KeyReadAhead;
using regstore::KeyRow;

// A store in memory with the keys 100 to 100 + kKeys - 1 below HKCU (every
// seventh deleted again, so ids have gaps), key i holding i % 4 values made
// together, and a few values of other keys made in between.
class KeyReadAheadTest : public ::testing::Test {
 protected:
  static constexpr std::int64_t kFirst = 100;
  static constexpr std::int64_t kKeys = 400;

  void SetUp() override {
    ASSERT_EQ(db_.Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
    ASSERT_EQ(Exec(regstore::StoreSchemaSql()), SQLITE_OK);
    ASSERT_EQ(db_.PrepareStatements(), SQLITE_OK);
    ASSERT_EQ(Exec("BEGIN"), SQLITE_OK);
    std::int64_t value = 1;
    for (std::int64_t id = kFirst; id < kFirst + kKeys; ++id) {
      const std::string name = "Key" + std::to_string(id) + (id % 2 ? "x" : "LongerName");
      ASSERT_EQ(Exec("INSERT INTO keys(id, parent, name, folded) VALUES(" + std::to_string(id) +
                     ", 2, '" + name + "', upper('" + name + "'))"),
                SQLITE_OK);
      for (std::int64_t v = 0; v < id % 4; ++v, ++value)
        ASSERT_EQ(Exec("INSERT INTO vals(id, key, name, folded, type, data) VALUES(" +
                       std::to_string(value) + ", " + std::to_string(id) + ", 'v" +
                       std::to_string(v) + "', 'V" + std::to_string(v) + "', 4, x'01')"),
                  SQLITE_OK);
      if (id % 5 == 0)
        ++value;  // a gap, as a value of another key would leave
    }
    ASSERT_EQ(Exec("DELETE FROM keys WHERE id % 7 = 0 AND id >= 100"), SQLITE_OK);
    ASSERT_EQ(Exec("COMMIT"), SQLITE_OK);
  }

  int Exec(const std::string& sql) {
    return sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
  }

  // The row of `id` as read directly.
  KeyRow Expected(std::int64_t id) {
    KeyRow row;
    sqlite3_stmt* stmt = nullptr;
    const std::string sql =
        "SELECT name, (SELECT min(id) FROM vals WHERE key = " + std::to_string(id) +
        "), (SELECT count(*) FROM vals WHERE key = " + std::to_string(id) +
        ") FROM keys WHERE id = " + std::to_string(id);
    EXPECT_EQ(sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK);
    if (sqlite3_step(stmt) == SQLITE_ROW) {
      row.name = regstore::ColumnText(stmt, 0);
      row.first_value = sqlite3_column_int64(stmt, 1);
      row.value_count = sqlite3_column_int64(stmt, 2);
    }
    sqlite3_finalize(stmt);
    return row;
  }

  KeyReadAhead Make(std::size_t block, std::size_t capacity) {
    return KeyReadAhead(db_.Statement(regstore::kKeyNamesFrom),
                        db_.Statement(regstore::kValueSpansFrom), block, capacity);
  }

  regstore::Database db_;
};

TEST_F(KeyReadAheadTest, EveryOrderGetsEachKeysOwnRow) {
  std::vector<std::int64_t> ascending, descending, in_turns;
  for (std::int64_t id = kFirst; id < kFirst + kKeys; ++id) {
    if (id % 7 != 0)
      ascending.push_back(id);
  }
  descending.assign(ascending.rbegin(), ascending.rend());
  // Keys made in turns below 40 parents, met parent by parent.
  for (std::int64_t parent = 0; parent < 40; ++parent) {
    for (std::int64_t id = kFirst + parent; id < kFirst + kKeys; id += 40) {
      if (id % 7 != 0)
        in_turns.push_back(id);
    }
  }
  struct Case {
    const char* name;
    const std::vector<std::int64_t>& ids;
    std::size_t block;
    std::size_t capacity;
  };
  const Case cases[] = {
      {"ascending", ascending, 16, 1024},
      {"descending", descending, 16, 1024},
      {"in turns, room for all", in_turns, 16, 1024},
      {"in turns, little room", in_turns, 16, 40},
      {"in turns, no reading ahead", in_turns, 1, 1024},
      {"ascending, room for one block", ascending, 16, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyReadAhead ahead = Make(c.block, c.capacity);
    for (std::int64_t id : c.ids) {
      KeyRow row;
      ASSERT_EQ(ahead.Take(id, &row), SQLITE_OK) << id;
      const KeyRow want = Expected(id);
      EXPECT_EQ(row.name, want.name) << id;
      EXPECT_EQ(row.value_count, want.value_count) << id;
      if (want.value_count != 0) {
        EXPECT_EQ(row.first_value, want.first_value) << id;
      }
      EXPECT_LE(ahead.size(), c.capacity);
    }
    EXPECT_LE(ahead.reads(), c.ids.size());
  }
}

TEST_F(KeyReadAheadTest, ReadsAheadOnlyWhereItPays) {
  std::vector<std::int64_t> ascending;
  for (std::int64_t id = kFirst; id < kFirst + kKeys; ++id) {
    if (id % 7 != 0)
      ascending.push_back(id);
  }
  // Keys met in id order are read a block at a time.
  {
    KeyReadAhead ahead = Make(16, 1024);
    KeyRow row;
    for (std::int64_t id : ascending)
      ASSERT_EQ(ahead.Take(id, &row), SQLITE_OK);
    EXPECT_LE(ahead.reads(), static_cast<std::uint64_t>(kKeys / 16 + 1));
    EXPECT_EQ(ahead.size(), 0u);
  }
  // Keys far apart fill the room with rows never met: they are forgotten,
  // and the keys met later are read ahead again.
  {
    KeyReadAhead ahead = Make(4, 24);
    KeyRow row;
    for (std::int64_t id = kFirst + 1; id < kFirst + kKeys; id += 5) {
      if (id % 7 != 0) {
        ASSERT_EQ(ahead.Take(id, &row), SQLITE_OK);
      }
    }
    const std::uint64_t before = ahead.reads();
    std::uint64_t takes = 0;
    for (std::int64_t id = kFirst + 200; id < kFirst + kKeys; ++id) {
      if (id % 7 != 0 && (id - kFirst - 1) % 5 != 0) {
        ASSERT_EQ(ahead.Take(id, &row), SQLITE_OK);
        ++takes;
      }
    }
    EXPECT_LT(ahead.reads() - before, takes / 2);
  }
}

TEST_F(KeyReadAheadTest, AKeyWithoutARowIsDamage) {
  KeyReadAhead ahead = Make(16, 1024);
  KeyRow row;
  EXPECT_EQ(ahead.Take(kFirst + 12, &row), SQLITE_CORRUPT);  // deleted
  EXPECT_EQ(ahead.Take(kFirst + kKeys + 5, &row), SQLITE_CORRUPT);
  ASSERT_EQ(ahead.Take(kFirst + 1, &row), SQLITE_OK);
  EXPECT_EQ(row.name, "Key101x");
}

}  // namespace
