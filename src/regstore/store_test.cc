// The registry store behind the seven registry functions: the answers it
// shares with the Windows registry, and what only the store has (location,
// protection, locked values, read-only files, waiting for other writers).
#include "regstore/regstore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testing/posix/store_key.h"
#include "testing/registry_contents.h"
#include "testing/temp_files.h"

namespace {

using namespace regdefs;
using testing_support::KeyExists;
using testing_support::ReadValue;
using testing_support::SubkeyNames;
using testing_support::ValueNames;

const RegKey kHkcu = kHkeyCurrentUser;

using Key = testing_support::ScopedStoreKey;

Status SetDword(RegKey key, const std::string& name, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return regstore::SetValue(key, name.c_str(), kRegDword, bytes, 4);
}

// Sets an environment variable for the scope and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    if (old)
      old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class RegistryStoreTest : public ::testing::Test {
 protected:
  testing_support::ScopedTestRegistry registry_;
};

TEST_F(RegistryStoreTest, AnswersLikeTheWindowsRegistry) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\A"), kErrorSuccess);
  Key classes;
  ASSERT_EQ(classes.Create(kHkeyClassesRoot, "Software"), kErrorSuccess);
  Key other;
  const std::string long_name(257, 'k');
  // A path of 260 characters: "Software\\A\\" and names of 99.
  const std::string path260 = "Software\\A\\" + std::string(99, 'p') + "\\" + std::string(99, 'p') +
                              "\\" + std::string(49, 'q');
  ASSERT_EQ(path260.size(), 260u);
  const struct {
    const char* what;
    Status got;
    Status expected;
  } cases[] = {
      {"open with a leading backslash", other.Open(kHkcu, "\\Software"), kErrorBadPathname},
      {"create with a leading backslash", other.Create(kHkcu, "\\Software\\B"), kErrorBadPathname},
      {"open of a missing key", other.Open(kHkcu, "Software\\Missing"), kErrorFileNotFound},
      {"open below a missing key", other.Open(kHkcu, "Software\\Missing\\X"), kErrorFileNotFound},
      {"empty name inside the path", other.Open(kHkcu, "Software\\\\A"), kErrorSuccess},
      {"trailing backslash", other.Create(kHkcu, "Software\\A\\"), kErrorSuccess},
      {"key name of 256 bytes", other.Create(key.get(), long_name.substr(1)), kErrorSuccess},
      {"key name of 257 bytes", other.Create(key.get(), long_name), kErrorInvalidParameter},
      {"path of 260 characters", other.Create(kHkcu, path260), kErrorSuccess},
      {"open in HKCR with a leading backslash", other.Open(kHkeyClassesRoot, "\\Software"),
       kErrorSuccess},
      {"open in HKCR of the root itself", other.Open(kHkeyClassesRoot, "\\"), kErrorSuccess},
      {"open in HKCR with two leading backslashes", other.Open(kHkeyClassesRoot, "\\\\Software"),
       kErrorBadPathname},
      {"open in HKCR of a missing key", other.Open(kHkeyClassesRoot, "\\Missing"),
       kErrorFileNotFound},
      {"create in HKCR with a leading backslash", other.Create(kHkeyClassesRoot, "\\Software\\B"),
       kErrorBadPathname},
      {"open below a key of HKCR with a leading backslash", other.Open(key.get(), "\\X"),
       kErrorBadPathname},
      {"open on a null key", other.Open(kNullKey, "Software"), kErrorInvalidHandle},
      {"open on an unknown handle", other.Open(0x12345678, "Software"), kErrorInvalidHandle},
      {"delete of a missing value", regstore::DeleteValue(key.get(), "none"), kErrorFileNotFound},
      {"write on a null key", SetDword(kNullKey, "v", 1), kErrorInvalidHandle},
      {"query on a null key",
       regstore::QueryValue(kNullKey, "v", nullptr, nullptr, nullptr, nullptr),
       kErrorInvalidHandle},
      {"delete on a null key", regstore::DeleteValue(kNullKey, "v"), kErrorInvalidHandle},
      {"flush of a null key", regstore::FlushKey(kNullKey), kErrorInvalidHandle},
      {"close of a null key", regstore::CloseKey(kNullKey), kErrorInvalidHandle},
      {"value name of 16383 bytes", SetDword(key.get(), std::string(16383, 'v'), 1), kErrorSuccess},
      {"value name of 16384 bytes", SetDword(key.get(), std::string(16384, 'v'), 1),
       kErrorInvalidParameter},
      {"data missing for its size", regstore::SetValue(key.get(), "v", kRegBinary, nullptr, 4),
       kErrorNoAccess},
      {"no data and no size", regstore::SetValue(key.get(), "v", kRegBinary, nullptr, 0),
       kErrorSuccess},
      {"a value directly on a root key", SetDword(kHkeyCurrentConfig, "OnRoot", 5), kErrorSuccess},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.got, c.expected) << c.what;

  EXPECT_EQ(ReadValue(kHkeyCurrentConfig, "", "OnRoot")->data,
            (std::vector<std::uint8_t>{5, 0, 0, 0}));
  EXPECT_TRUE(KeyExists(kHkcu, "Software\\A\\" + long_name.substr(1)));
  EXPECT_TRUE(KeyExists(kHkcu, path260));
  EXPECT_EQ(SubkeyNames(kHkcu, "Software").size(), 1u);
  EXPECT_FALSE(KeyExists(kHkeyClassesRoot, "Software\\B"));
}

// Keys lie at most 512 levels below their root key, as in the Windows
// registry; a longer path is refused before any of it is looked up.
TEST_F(RegistryStoreTest, KeysLieAtMost512LevelsDeep) {
  auto levels = [](int from, int count) {
    std::string path;
    for (int i = from; i < from + count; ++i)
      path += (path.empty() ? "L" : "\\L") + std::to_string(i);
    return path;
  };
  auto create = [](RegKey base, const std::string& path) {
    RegKey key = kNullKey;
    std::uint32_t disposition = 0;
    const Status status =
        regstore::CreateKey(base, path.c_str(), kKeyAllAccess, &key, &disposition);
    if (status != kErrorSuccess)
      return status;
    return regstore::CloseKey(key);
  };
  EXPECT_EQ(create(kHkcu, levels(0, 513)), kErrorInvalidParameter);
  EXPECT_FALSE(KeyExists(kHkcu, "L0"));
  ASSERT_EQ(create(kHkcu, levels(0, 512)), kErrorSuccess);
  RegKey key = kNullKey;
  ASSERT_EQ(regstore::OpenKey(kHkcu, levels(0, 512).c_str(), kKeyRead, &key), kErrorSuccess);
  EXPECT_EQ(regstore::CloseKey(key), kErrorSuccess);
  EXPECT_EQ(regstore::OpenKey(kHkcu, levels(0, 513).c_str(), kKeyRead, &key),
            kErrorInvalidParameter);

  // Below an open key the levels above it count too.
  RegKey base = kNullKey;
  ASSERT_EQ(regstore::OpenKey(kHkcu, levels(0, 510).c_str(), kKeyAllAccess, &base), kErrorSuccess);
  EXPECT_EQ(create(base, "X\\Y\\Z"), kErrorInvalidParameter);
  EXPECT_FALSE(KeyExists(kHkcu, levels(0, 510) + "\\X"));
  EXPECT_EQ(create(base, "X\\Y"), kErrorSuccess);
  EXPECT_EQ(regstore::CloseKey(base), kErrorSuccess);

  // Doubled backslashes add no levels; a path of a million names is refused
  // as it is split.
  std::string huge;
  for (int i = 0; i < 1000000; ++i)
    huge += "n\\";
  EXPECT_EQ(create(kHkcu, "Software\\\\A"), kErrorSuccess);
  EXPECT_EQ(create(kHkcu, huge), kErrorInvalidParameter);
}

// Data longer than the store can hold is refused, and the value stays as it
// was. The data is mapped but never touched, so that it costs no memory.
TEST_F(RegistryStoreTest, RefusesDataLongerThanItHolds) {
  const std::size_t huge = 1000000001;
  void* data = ::mmap(nullptr, huge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(data, MAP_FAILED);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Huge"), kErrorSuccess);
  ASSERT_EQ(SetDword(key.get(), "Old", 7), kErrorSuccess);
  EXPECT_NE(regstore::SetValue(key.get(), "New", kRegBinary, bytes, huge), kErrorSuccess);
  EXPECT_NE(regstore::SetValue(key.get(), "Old", kRegBinary, bytes, huge), kErrorSuccess);
  key.Close();
  ::munmap(data, huge);
  EXPECT_FALSE(ReadValue(kHkcu, "Software\\Huge", "New").has_value());
  EXPECT_EQ(ReadValue(kHkcu, "Software\\Huge", "Old")->data,
            (std::vector<std::uint8_t>{7, 0, 0, 0}));
}

TEST_F(RegistryStoreTest, QueryReportsTypeAndSize) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Q"), kErrorSuccess);
  const std::uint8_t two[] = {0x11, 0x22};
  ASSERT_EQ(regstore::SetValue(key.get(), "Short", kRegDword, two, 2), kErrorSuccess);
  ASSERT_EQ(regstore::SetValue(key.get(), "Text", kRegSz,
                               reinterpret_cast<const std::uint8_t*>("hello"), 6),
            kErrorSuccess);

  std::uint32_t type = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(regstore::QueryValue(key.get(), "Short", nullptr, &type, nullptr, &size),
            kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(size, 2u);

  std::uint8_t buffer[8] = {};
  size = 4;
  EXPECT_EQ(regstore::QueryValue(key.get(), "Text", nullptr, &type, buffer, &size), kErrorMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(type, kRegSz);
  size = sizeof(buffer);
  EXPECT_EQ(regstore::QueryValue(key.get(), "TEXT", nullptr, &type, buffer, &size), kErrorSuccess);
  EXPECT_EQ(size, 6u);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "hello");

  std::uint32_t reserved = 0;
  EXPECT_EQ(regstore::QueryValue(key.get(), "Text", &reserved, &type, nullptr, &size),
            kErrorInvalidParameter);
  EXPECT_EQ(regstore::QueryValue(key.get(), "Text", nullptr, &type, buffer, nullptr),
            kErrorInvalidParameter);
  EXPECT_EQ(regstore::QueryValue(key.get(), "Missing", nullptr, &type, buffer, &size),
            kErrorFileNotFound);
}

TEST_F(RegistryStoreTest, NamesIgnoreCaseAndKeepIt) {
  Key key;
  std::uint32_t disposition = 0;
  ASSERT_EQ(key.Create(kHkcu, "Software\\MixedCase\\Inner", kKeyAllAccess, &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  ASSERT_EQ(key.Create(kHkcu, "SOFTWARE\\mixedcase\\INNER", kKeyAllAccess, &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  EXPECT_EQ(SubkeyNames(kHkcu, "software"), std::vector<std::string>{"MixedCase"});
  EXPECT_EQ(SubkeyNames(kHkcu, "Software\\MIXEDCASE"), std::vector<std::string>{"Inner"});

  EXPECT_EQ(SetDword(key.get(), "Value", 1), kErrorSuccess);
  EXPECT_EQ(SetDword(key.get(), "VALUE", 2), kErrorSuccess);
  EXPECT_EQ(ValueNames(kHkcu, "Software\\MixedCase\\Inner"), std::vector<std::string>{"Value"});
  EXPECT_EQ(ReadValue(kHkcu, "Software\\MixedCase\\Inner", "value")->data[0], 2);
  // Deep paths (looked up name by name) behave the same.
  std::string deep = "Software\\Deep";
  for (int level = 0; level < 20; ++level)
    deep += "\\Level" + std::to_string(level);
  Key deep_key;
  ASSERT_EQ(deep_key.Create(kHkcu, deep, kKeyAllAccess, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  std::string upper = deep;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(deep_key.Open(kHkcu, upper), kErrorSuccess);
  regstore::StoreKeyInfo info;
  ASSERT_EQ(regstore::StoreFindKey(kHkcu, upper, &info), kErrorSuccess);
  EXPECT_EQ(info.path, deep);
  ASSERT_EQ(regstore::StoreFindKey(kHkcu, "SOFTWARE\\MIXEDCASE\\inner", &info), kErrorSuccess);
  EXPECT_EQ(info.path, "Software\\MixedCase\\Inner");
  EXPECT_EQ(deep_key.Open(kHkcu, upper + "\\Missing"), kErrorFileNotFound);

  // Letters of the code page fold too: Ä and ä are one name, which keeps the
  // case it was made with; µ and ß have no partner and stay names of their own.
  EXPECT_EQ(SetDword(key.get(), "\xC4", 3), kErrorSuccess);
  EXPECT_EQ(SetDword(key.get(), "\xE4", 4), kErrorSuccess);
  EXPECT_EQ(SetDword(key.get(), "\xB5", 5), kErrorSuccess);
  EXPECT_EQ(SetDword(key.get(), "\xDF", 6), kErrorSuccess);
  const std::vector<std::string> names = ValueNames(kHkcu, "Software\\MixedCase\\Inner");
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[1], "\xC4");
  Key cafe;
  ASSERT_EQ(cafe.Create(kHkcu, "Software\\Caf\xE9\\\xFF", kKeyAllAccess, &disposition),
            kErrorSuccess);
  ASSERT_EQ(cafe.Create(kHkcu, "SOFTWARE\\CAF\xC9\\\x9F", kKeyAllAccess, &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  ASSERT_EQ(regstore::StoreFindKey(kHkcu, "software\\caf\xC9\\\x9F", &info), kErrorSuccess);
  EXPECT_EQ(info.path, "Software\\Caf\xE9\\\xFF");
}

TEST_F(RegistryStoreTest, ValuesKeepTheirOrder) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Order"), kErrorSuccess);
  for (const char* name : {"zeta", "alpha", "mid", "", "beta"})
    SetDword(key.get(), name, 1);
  SetDword(key.get(), "ALPHA", 2);  // replaced in place
  regstore::DeleteValue(key.get(), "mid");
  SetDword(key.get(), "mid", 3);  // deleted and created again: now last
  EXPECT_EQ(ValueNames(kHkcu, "Software\\Order"),
            (std::vector<std::string>{"zeta", "alpha", "", "beta", "mid"}));
  // Subkeys are listed by name, whatever their case.
  for (const char* name : {"b", "C", "a"})
    Key().Create(key.get(), name);
  EXPECT_EQ(SubkeyNames(kHkcu, "Software\\Order"), (std::vector<std::string>{"a", "b", "C"}));
}

TEST_F(RegistryStoreTest, EmptySubPathGivesANewHandleToTheSameKey) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Same"), kErrorSuccess);
  Key again;
  ASSERT_EQ(again.Open(key.get(), ""), kErrorSuccess);
  EXPECT_NE(again.get(), key.get());
  EXPECT_EQ(SetDword(again.get(), "Through", 1), kErrorSuccess);
  EXPECT_EQ(again.Close(), kErrorSuccess);
  std::uint32_t size = 0;
  EXPECT_EQ(regstore::QueryValue(key.get(), "Through", nullptr, nullptr, nullptr, &size),
            kErrorSuccess);
  // The closed handle is gone for good, also when closed again.
  Key root;
  ASSERT_EQ(root.Open(kHkcu, ""), kErrorSuccess);
  EXPECT_NE(root.get(), kHkcu);
  RegKey closed = root.get();
  root.Close();
  EXPECT_EQ(regstore::CloseKey(closed), kErrorInvalidHandle);
  EXPECT_EQ(SetDword(closed, "x", 1), kErrorInvalidHandle);
  // Closing a root key handle changes nothing.
  EXPECT_EQ(regstore::CloseKey(kHkcu), kErrorSuccess);
  EXPECT_EQ(SetDword(kHkcu, "StillThere", 1), kErrorSuccess);
}

TEST_F(RegistryStoreTest, HandleOfADeletedKey) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Doomed\\Child"), kErrorSuccess);
  SetDword(key.get(), "v", 1);
  ASSERT_TRUE(testing_support::DeleteKeyTree(kHkcu, "Software\\Doomed"));
  Key other;
  std::uint32_t size = 4;
  std::uint8_t buffer[4];
  EXPECT_EQ(SetDword(key.get(), "v", 2), kErrorKeyDeleted);
  EXPECT_EQ(regstore::QueryValue(key.get(), "v", nullptr, nullptr, buffer, &size),
            kErrorKeyDeleted);
  EXPECT_EQ(regstore::DeleteValue(key.get(), "v"), kErrorKeyDeleted);
  EXPECT_EQ(other.Open(key.get(), ""), kErrorKeyDeleted);
  EXPECT_EQ(other.Create(key.get(), "x"), kErrorKeyDeleted);
  EXPECT_EQ(regstore::FlushKey(key.get()), kErrorKeyDeleted);
  EXPECT_EQ(key.Close(), kErrorSuccess);
  // A key made again at the same place is a new key.
  ASSERT_EQ(key.Create(kHkcu, "Software\\Doomed\\Child"), kErrorSuccess);
  EXPECT_TRUE(ValueNames(kHkcu, "Software\\Doomed\\Child").empty());
}

TEST_F(RegistryStoreTest, ProtectedKeyRefusesWritesToItselfAndBelow) {
  { Key().Create(kHkcu, "Software\\Guarded\\Child"); }
  Key early;  // opened for writing before the protection
  ASSERT_EQ(early.Open(kHkcu, "Software\\Guarded"), kErrorSuccess);
  ASSERT_TRUE(testing_support::ProtectKey(kHkcu, "Software\\Guarded"));

  Key key;
  EXPECT_EQ(key.Open(kHkcu, "Software\\Guarded"), kErrorAccessDenied);
  EXPECT_EQ(key.Open(kHkcu, "Software\\Guarded\\Child"), kErrorAccessDenied);
  EXPECT_EQ(key.Open(kHkcu, "Software\\Guarded\\Child", kKeySetValue), kErrorAccessDenied);
  EXPECT_EQ(key.Create(kHkcu, "Software\\Guarded"), kErrorAccessDenied);
  EXPECT_EQ(key.Create(kHkcu, "Software\\Guarded\\New", kKeyRead), kErrorAccessDenied);
  EXPECT_FALSE(testing_support::StoreKeyTakesWrites(kHkcu, "Software\\Guarded\\New\\Deeper"));
  EXPECT_FALSE(KeyExists(kHkcu, "Software\\Guarded\\New"));

  ASSERT_EQ(key.Create(kHkcu, "Software\\Guarded\\Child", kKeyRead), kErrorSuccess);
  EXPECT_EQ(SetDword(key.get(), "v", 1), kErrorAccessDenied);
  std::uint32_t size = 0;
  EXPECT_EQ(regstore::QueryValue(key.get(), "v", nullptr, nullptr, nullptr, &size),
            kErrorFileNotFound);
  Key below;
  EXPECT_EQ(below.Open(key.get(), "", kKeyAllAccess), kErrorAccessDenied);
  // Rights are checked when a key is opened, as on Windows.
  EXPECT_EQ(SetDword(early.get(), "Early", 1), kErrorSuccess);

  EXPECT_EQ(regstore::StoreChangeKeyFlags(kHkcu, "Software\\Guarded", 0, regstore::kKeyProtected),
            kErrorSuccess);
  EXPECT_EQ(key.Open(kHkcu, "Software\\Guarded\\Child"), kErrorSuccess);
  EXPECT_TRUE(testing_support::StoreKeyTakesWrites(kHkcu, "Software\\Guarded\\New"));
}

TEST_F(RegistryStoreTest, ProtectedRootKey) {
  ASSERT_TRUE(testing_support::ProtectKey(kHkeyUsers, ""));
  EXPECT_EQ(SetDword(kHkeyUsers, "v", 1), kErrorAccessDenied);
  EXPECT_EQ(regstore::DeleteValue(kHkeyUsers, "v"), kErrorAccessDenied);
  Key key;
  EXPECT_EQ(key.Create(kHkeyUsers, "Anything"), kErrorAccessDenied);
  EXPECT_FALSE(testing_support::StoreKeyTakesWrites(kHkeyUsers, ""));
  EXPECT_TRUE(testing_support::StoreKeyTakesWrites(kHkeyLocalMachine, ""));
}

TEST_F(RegistryStoreTest, LockedValuesRefuseWritesButNotOpens) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Locked"), kErrorSuccess);
  SetDword(key.get(), "Kept", 1);
  key.Close();
  ASSERT_TRUE(testing_support::LockKeyValues(kHkcu, "Software\\Locked"));
  ASSERT_EQ(key.Open(kHkcu, "Software\\Locked"), kErrorSuccess);
  EXPECT_EQ(SetDword(key.get(), "Kept", 2), kErrorAccessDenied);
  EXPECT_EQ(SetDword(key.get(), "New", 2), kErrorAccessDenied);
  EXPECT_EQ(regstore::DeleteValue(key.get(), "Kept"), kErrorAccessDenied);
  // Subkeys are not locked.
  Key child;
  EXPECT_EQ(child.Create(key.get(), "Child"), kErrorSuccess);
  EXPECT_EQ(SetDword(child.get(), "v", 1), kErrorSuccess);
  EXPECT_EQ(ReadValue(kHkcu, "Software\\Locked", "Kept")->data[0], 1);
}

TEST_F(RegistryStoreTest, ChangesReachOtherConnectionsByTheClose) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Shared"), kErrorSuccess);
  ASSERT_EQ(SetDword(key.get(), "Seen", 7), kErrorSuccess);
  ASSERT_EQ(regstore::FlushKey(key.get()), kErrorSuccess);
  key.Close();
  // A probe whose value comes and goes leaves nothing to commit.
  EXPECT_TRUE(testing_support::StoreKeyTakesWrites(kHkcu, "Software\\Shared"));

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(registry_.StorePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT name, hex(data) FROM vals", -1, &stmt, nullptr),
            SQLITE_OK);
  std::vector<std::string> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    rows.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) + "=" +
                   reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  EXPECT_EQ(rows, std::vector<std::string>{"Seen=07000000"});
}

// The wait for another writer is bounded for the whole run, not for each
// call: waits add up, and once the limit is used up the store counts as busy
// and every later change fails at once, also after the other writer is gone.
TEST_F(RegistryStoreTest, WaitsForAnotherWriterWithinOneBoundForTheRun) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Busy"), kErrorSuccess);
  key.Close();
  EXPECT_EQ(regstore::CommitPending(), regdefs::kErrorSuccess);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(registry_.StorePath().c_str(), &other), SQLITE_OK);
  auto hold_for = [other](int milliseconds) {
    EXPECT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    return std::thread([other, milliseconds] {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
  };

  regstore::SetStoreWaitLimit(1000);
  ASSERT_EQ(key.Open(kHkcu, "Software\\Busy"), kErrorSuccess);  // readers never wait
  std::thread release = hold_for(400);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SetDword(key.get(), "v", 1), kErrorSuccess);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  release.join();
  ASSERT_EQ(key.Close(), kErrorSuccess);
  EXPECT_EQ(regstore::CommitPending(),
            regdefs::kErrorSuccess);  // the group in hand holds the write lock until then
  EXPECT_EQ(regstore::StoreState(), kErrorSuccess);

  // About 600 ms of the limit are left: a second hold of 2 s outlasts them.
  ASSERT_EQ(key.Open(kHkcu, "Software\\Busy"), kErrorSuccess);
  release = hold_for(2000);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(SetDword(key.get(), "v", 2), kErrorBusy);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  release.join();
  EXPECT_EQ(regstore::StoreState(), kErrorBusy);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(SetDword(key.get(), "v", 3), kErrorBusy);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  key.Close();
  sqlite3_close(other);
  EXPECT_EQ(ReadValue(kHkcu, "Software\\Busy", "v")->data[0], 1);
}

// What RegistryState answers: why the store as a whole takes no writes. A
// store replaced under the connection takes none from then on, and the file
// now at the path is left as it is; so is an empty file, which is no store.
TEST_F(RegistryStoreTest, StateTellsWhyTheStoreTakesNoWrites) {
  const std::string dir = testing_support::NewTempDir();
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\State"), kErrorSuccess);
  ASSERT_EQ(SetDword(key.get(), "v", 1), kErrorSuccess);
  ASSERT_EQ(key.Close(), kErrorSuccess);
  EXPECT_EQ(regstore::StoreState(), kErrorSuccess);

  const std::string store = registry_.StorePath();
  const std::string other = dir + "/other.db";
  // Closing the connection moves the log into the file, which is copied.
  regstore::UseStorePath(store);
  {
    std::ifstream in(store, std::ios::binary);
    std::ofstream out(other, std::ios::binary);
    out << in.rdbuf();
  }
  ASSERT_EQ(key.Open(kHkcu, "Software\\State"), kErrorSuccess);
  ASSERT_EQ(::rename(other.c_str(), store.c_str()), 0);
  EXPECT_EQ(SetDword(key.get(), "v", 2), kErrorBadDb);
  EXPECT_EQ(regstore::StoreState(), kErrorBadDb);
  key.Close();
  regstore::UseStorePath(store);
  const auto kept = ReadValue(kHkcu, "Software\\State", "v");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->data[0], 1);

  const std::string empty = dir + "/empty.db";
  std::ofstream(empty).close();
  regstore::UseStorePath(empty);
  EXPECT_EQ(key.Create(kHkcu, "Software\\State"), kErrorBadDb);
  EXPECT_EQ(regstore::StoreState(), kErrorBadDb);
  struct stat st;
  ASSERT_EQ(::stat(empty.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_NE(::access((empty + "-wal").c_str(), F_OK), 0);

  const std::string frozen = dir + "/frozen.db";
  regstore::UseStorePath(frozen);
  ASSERT_EQ(key.Create(kHkcu, "Software\\State"), kErrorSuccess);
  key.Close();
  regstore::UseStorePath("");
  ASSERT_EQ(::chmod(frozen.c_str(), 0444), 0);
  regstore::UseStorePath(frozen);
  EXPECT_EQ(regstore::StoreState(), kErrorWriteProtect);
  regstore::UseStorePath(store);
}

TEST_F(RegistryStoreTest, ReadOnlyStoreFileRefusesEveryWrite) {
  Key key;
  ASSERT_EQ(key.Create(kHkcu, "Software\\Frozen"), kErrorSuccess);
  SetDword(key.get(), "v", 9);
  key.Close();
  const std::string path = registry_.StorePath();
  regstore::UseStorePath("");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  regstore::UseStorePath(path);

  EXPECT_TRUE(regstore::StoreIsReadOnly());
  EXPECT_EQ(key.Open(kHkcu, "Software\\Frozen"), kErrorAccessDenied);
  EXPECT_EQ(key.Create(kHkcu, "Software\\Frozen\\New", kKeyRead), kErrorAccessDenied);
  EXPECT_EQ(SetDword(kHkcu, "v", 1), kErrorAccessDenied);
  EXPECT_FALSE(testing_support::StoreKeyTakesWrites(kHkcu, "Software\\Frozen"));
  EXPECT_FALSE(testing_support::ProtectKey(kHkcu, "Software\\Frozen"));
  ASSERT_EQ(key.Open(kHkcu, "Software\\Frozen", kKeyRead), kErrorSuccess);
  std::uint8_t buffer[4] = {};
  std::uint32_t size = 4;
  EXPECT_EQ(regstore::QueryValue(key.get(), "v", nullptr, nullptr, buffer, &size), kErrorSuccess);
  EXPECT_EQ(buffer[0], 9);
  key.Close();
  regstore::UseStorePath("");
  ::chmod(path.c_str(), 0644);
}

TEST_F(RegistryStoreTest, FileThatIsNoStoreIsRefused) {
  const std::string garbage = testing_support::WriteTempFile(std::string(8192, 'x'), "not.db");
  regstore::UseStorePath(garbage);
  std::string detail;
  EXPECT_EQ(regstore::ConnectStore(&detail), kErrorBadDb);
  EXPECT_NE(detail.find("not a database"), std::string::npos) << detail;
  Key key;
  EXPECT_EQ(key.Open(kHkcu, "Software"), kErrorBadDb);

  // Another program's SQLite database is not taken over either.
  const std::string foreign = testing_support::JoinPath(testing_support::NewTempDir(), "other.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  regstore::UseStorePath(foreign);
  EXPECT_EQ(regstore::ConnectStore(&detail), kErrorBadDb);
  EXPECT_NE(detail.find("not a registry store"), std::string::npos) << detail;
}

TEST(RegistryStoreLocation, FollowsTheEnvironment) {
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv regstore("REGSTORE", "/data/my.db");
    ScopedEnv xdg("XDG_DATA_HOME", "/xdg");
    EXPECT_EQ(regstore::DefaultStorePath(), "/data/my.db");
  }
  {
    ScopedEnv regstore("REGSTORE", "");
    ScopedEnv xdg("XDG_DATA_HOME", "/xdg/");
    EXPECT_EQ(regstore::DefaultStorePath(), "/xdg/regstore/registry.db");
  }
  {
    ScopedEnv regstore("REGSTORE", nullptr);
    ScopedEnv xdg("XDG_DATA_HOME", "relative/path");
    EXPECT_EQ(regstore::DefaultStorePath(), "/home/someone/.local/share/regstore/registry.db");
  }
}

TEST(RegistryStoreLocation, CreatedOnFirstUseWithItsFolders) {
  const std::string previous = regstore::StorePath();
  const std::string path = testing_support::NewTempDir() + "/deep/er/registry.db";
  ScopedEnv regstore("REGSTORE", path.c_str());
  regstore::UseStorePath("");
  EXPECT_EQ(regstore::StorePath(), path);
  EXPECT_TRUE(testing_support::StoreKeyTakesWrites(kHkcu, "Software\\First"));
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(KeyExists(kHkcu, "Software\\First"));
  regstore::UseStorePath(previous);
}

}  // namespace
