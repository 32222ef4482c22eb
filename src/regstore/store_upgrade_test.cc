// A store made by the 1.0 programs (testdata/store-1.0.db, made by
// testdata/make-store-1.0.sh) is brought up to date in place when it is first
// opened for writing, keeping every name's case, every value, protection and
// locks; afterwards the sqlite3 library alone can check and read it. An
// opener that may only read it says what is needed instead of failing
// without a word.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "regstore/regstore.h"
#include "regstore/schema.h"
#include "regstore/store_check.h"
#include "testing/posix/store_rows.h"
#include "testing/temp_files.h"

namespace {

using namespace regdefs;

const RegKey kHkcu = kHkeyCurrentUser;
const std::string kFixture = "Software\\Mardovan\\Brevlin\\Fixture";

class UsingStore {
 public:
  explicit UsingStore(const std::string& path) : previous_(regstore::StorePath()) {
    regstore::UseStorePath(path);
  }
  ~UsingStore() { regstore::UseStorePath(previous_); }

 private:
  std::string previous_;
};

// A copy of the fixture, as the only file of a new folder.
std::string CopyOfStore10() {
  const std::string bytes =
      testing_support::ReadWholeFile(BREVLIN_SOURCE_DIR "/src/regstore/testdata/store-1.0.db");
  EXPECT_FALSE(bytes.empty());
  return testing_support::WriteTempFile(bytes, "registry.db");
}

// One line per key and value below `path`, as the store reads them back.
std::vector<std::string> Contents(RegKey root, const std::string& path) {
  struct Lines : regstore::StoreVisitor {
    std::vector<std::string> lines;
    bool Key(const std::string& key) override {
      lines.push_back("[" + key + "]");
      return true;
    }
    bool Value(const regstore::StoreValueView& value) override {
      lines.push_back(std::string(value.name) + "=" + std::to_string(value.type) + ":" +
                      std::string(reinterpret_cast<const char*>(value.data), value.size));
      return true;
    }
    bool Subkey(std::string_view) override { return true; }
  } visitor;
  EXPECT_EQ(regstore::StoreWalk(root, path, true, &visitor), kErrorSuccess);
  return visitor.lines;
}

std::string Integrity(const std::string& path) {
  // A connection with nothing of the program's registered, as the sqlite3
  // shell or any other program has it.
  sqlite3* db = nullptr;
  std::string result;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "PRAGMA integrity_check; ", -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW)
      result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  } else {
    result = sqlite3_errmsg(db);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

TEST(StoreUpgrade, Store10KeepsItsKeysValuesCaseAndProtection) {
  const std::string path = CopyOfStore10();
  regstore::StoreCheckReport before;
  std::string detail;
  ASSERT_TRUE(regstore::CheckStoreFile(path, &before, &detail)) << detail;
  EXPECT_TRUE(before.older_version);
  EXPECT_TRUE(before.sound());

  UsingStore use(path);
  ASSERT_EQ(regstore::ConnectStore(&detail), kErrorSuccess) << detail;
  regstore::StoreKeyInfo info;
  ASSERT_EQ(regstore::StoreFindKey(kHkcu, kFixture + "\\CAF\xC9\\sub\x9F", &info), kErrorSuccess);
  EXPECT_EQ(info.path, kFixture + "\\Caf\xE9\\Sub\xFF");
  ASSERT_EQ(regstore::StoreFindKey(kHkcu, kFixture + "\\protected", &info), kErrorSuccess);
  EXPECT_EQ(info.flags, regstore::kKeyProtected);
  ASSERT_EQ(regstore::StoreFindKey(kHkcu, kFixture + "\\LOCKED", &info), kErrorSuccess);
  EXPECT_EQ(info.flags, regstore::kKeyValuesLocked);
  ASSERT_EQ(regstore::StoreFindKey(kHkeyLocalMachine, "software\\mardovan\\mixed\\CASE", &info),
            kErrorSuccess);
  EXPECT_EQ(info.path, "SOFTWARE\\Mardovan\\MiXeD\\cAsE");

  // Protection and the lock still refuse.
  RegKey key = kNullKey;
  EXPECT_EQ(regstore::OpenKey(kHkcu, (kFixture + "\\Protected\\Inner").c_str(), kKeySetValue, &key),
            kErrorAccessDenied);
  ASSERT_EQ(regstore::OpenKey(kHkcu, (kFixture + "\\Locked").c_str(), kKeyAllAccess, &key),
            kErrorSuccess);
  const std::uint8_t six[] = {6, 0, 0, 0};
  EXPECT_EQ(regstore::SetValue(key, "Frozen", kRegDword, six, 4), kErrorAccessDenied);
  EXPECT_EQ(regstore::CloseKey(key), kErrorSuccess);

  // A write by another letter case lands in the key and value of 1.0.
  ASSERT_EQ(
      regstore::CreateKey(kHkcu, (kFixture + "\\CAF\xC9").c_str(), kKeyAllAccess, &key, nullptr),
      kErrorSuccess);
  const std::uint8_t nine[] = {9, 0, 0, 0};
  EXPECT_EQ(regstore::SetValue(key, "\x8AKODA", kRegDword, nine, 4), kErrorSuccess);
  EXPECT_EQ(regstore::CloseKey(key), kErrorSuccess);
  EXPECT_EQ(regstore::CommitPending(), kErrorSuccess);
  std::vector<regstore::StoreValue> values;
  ASSERT_EQ(regstore::StoreListValues(kHkcu, kFixture + "\\caf\xE9", &values), kErrorSuccess);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[1].name, "\x9Akoda");
  EXPECT_EQ(values[1].data, std::vector<std::uint8_t>(nine, nine + 4));
  std::vector<std::string> subkeys;
  ASSERT_EQ(regstore::StoreListSubkeys(kHkcu, kFixture, &subkeys), kErrorSuccess);
  EXPECT_EQ(subkeys,
            (std::vector<std::string>{"Caf\xE9", "Locked", "Protected", "Types", "Window"}));

  regstore::UseStorePath(testing_support::NewTempDir() + "/other.db");
  EXPECT_EQ(Integrity(path), "ok");
  regstore::StoreCheckReport after;
  ASSERT_TRUE(regstore::CheckStoreFile(path, &after, &detail)) << detail;
  EXPECT_FALSE(after.older_version);
  EXPECT_TRUE(after.sound());
  EXPECT_EQ(after.version, regstore::kStoreVersion);
}

// Every key and value of the 1.0 store is kept, with its id, parent, name as
// written, flags, type and data.
TEST(StoreUpgrade, Store10KeepsEveryRow) {
  const std::string path = CopyOfStore10();
  const std::vector<std::string> before = testing_support::StoreRows(path, true);
  ASSERT_GT(before.size(), 20u);
  {
    UsingStore use(path);
    std::string detail;
    ASSERT_EQ(regstore::ConnectStore(&detail), kErrorSuccess) << detail;
  }
  EXPECT_EQ(testing_support::StoreRows(path, false), before);
}

TEST(StoreUpgrade, ReadOnlyOpenerOfStore10SaysTheOwnerMustOpenItOnce) {
  const std::string path = CopyOfStore10();
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  UsingStore use(path);
  std::string detail;
  EXPECT_EQ(regstore::ConnectStore(&detail), kErrorBadDb);
  EXPECT_NE(detail.find("its owner must open it for writing once"), std::string::npos) << detail;
  ::chmod(path.c_str(), 0644);
  regstore::UseStorePath(testing_support::NewTempDir() + "/other.db");
  EXPECT_EQ(Integrity(path).find("ok"), std::string::npos);  // still the old tables
}

// A copy restored from the sqlite3 shell's .dump (which keeps neither the
// store's mark nor its version) is a store: it reads, and a write by
// another letter case lands in the same key.
TEST(StoreUpgrade, CopyRestoredFromADumpIsAStore) {
  if (std::system("sqlite3 -version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no sqlite3 shell";
  const std::string path = CopyOfStore10();
  {
    UsingStore use(path);
    ASSERT_EQ(regstore::ConnectStore(nullptr), kErrorSuccess);
  }
  const std::string copy = testing_support::NewTempDir() + "/copy.db";
  ASSERT_EQ(std::system(("sqlite3 '" + path + "' .dump | sqlite3 '" + copy + "'").c_str()), 0);
  UsingStore use(copy);
  std::string detail;
  ASSERT_EQ(regstore::ConnectStore(&detail), kErrorSuccess) << detail;
  const std::vector<std::string> lines = Contents(kHkcu, kFixture);
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[0], "[" + kFixture + "]");
  RegKey key = kNullKey;
  ASSERT_EQ(regstore::CreateKey(kHkcu, "SOFTWARE\\MARDOVAN\\brevlin\\FIXTURE\\window",
                                kKeyAllAccess, &key, nullptr),
            kErrorSuccess);
  const std::uint8_t one[] = {1, 0, 0, 0};
  EXPECT_EQ(regstore::SetValue(key, "LEFT", kRegDword, one, 4), kErrorSuccess);
  EXPECT_EQ(regstore::CloseKey(key), kErrorSuccess);
  EXPECT_EQ(regstore::CommitPending(), kErrorSuccess);
  std::vector<regstore::StoreValue> values;
  ASSERT_EQ(regstore::StoreListValues(kHkcu, kFixture + "\\Window", &values), kErrorSuccess);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, "Left");
  EXPECT_EQ(values[0].data, std::vector<std::uint8_t>(one, one + 4));
  regstore::UseStorePath(testing_support::NewTempDir() + "/other.db");
  EXPECT_EQ(Integrity(copy), "ok");
}

}  // namespace
