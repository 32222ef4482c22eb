#include "testing/posix/store_commit_watch.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdint>

#include "regdefs/value_types.h"
#include "regstore/store.h"
#include "testing/posix/store_key.h"

namespace testing_support {

StoreCommitWatch::StoreCommitWatch(const std::string& store_path) {
  regstore::ConnectStore(nullptr);
  regstore::Store::Instance().SetGroupLimits(std::chrono::hours(1), 1000000);
  if (sqlite3_open_v2(store_path.c_str(), &other_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(other_);
    other_ = nullptr;
  }
}

StoreCommitWatch::~StoreCommitWatch() {
  sqlite3_close(other_);
  regstore::Store::Instance().SetGroupLimits(regstore::kGroupAge, regstore::kGroupKeys);
}

bool StoreCommitWatch::WriteKey(int n) {
  ScopedStoreKey key;
  if (key.Create(regdefs::kHkeyCurrentUser, "Software\\BrevlinTest\\K" + std::to_string(n)) !=
      regdefs::kErrorSuccess) {
    return false;
  }
  for (int v = 0; v < 3; ++v) {
    const std::uint8_t data[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(v), 0, 0};
    if (regstore::SetValue(key.get(), ("V" + std::to_string(v)).c_str(), regdefs::kRegDword, data,
                           4) != regdefs::kErrorSuccess) {
      return false;
    }
  }
  return key.Close() == regdefs::kErrorSuccess;
}

int StoreCommitWatch::ValuesSeen() {
  if (other_ == nullptr)
    return -1;
  sqlite3_stmt* stmt = nullptr;
  int count = -1;
  if (sqlite3_prepare_v2(other_,
                         "SELECT count(*) FROM vals JOIN keys ON keys.id = vals.key"
                         " WHERE keys.name LIKE 'K%'",
                         -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    count = sqlite3_column_int(stmt, 0);
  }
  sqlite3_finalize(stmt);
  return count;
}

}  // namespace testing_support
