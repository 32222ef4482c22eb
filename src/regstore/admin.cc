#include "regstore/store.h"
#include "regstore/transaction.h"

namespace regstore {

using namespace regdefs;

Status Store::ReadKey(RegKey key, const std::string& path, StoreKeyInfo* info,
                      const std::function<Status(std::int64_t id)>& use) {
  std::lock_guard<std::mutex> lock(mutex_);
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(this);
  std::int64_t id = 0;
  status = Find(key, path, &id, info);
  if (status != kErrorSuccess || !use)
    return status;
  return use(id);
}

Status Store::FindKey(RegKey key, const std::string& path, StoreKeyInfo* info) {
  return ReadKey(key, path, info, nullptr);
}

Status Store::BeginOwnerChange(RegKey key, const std::string& path, std::int64_t* id) {
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  if (read_only_)
    return kErrorAccessDenied;
  if (trouble_ != kErrorSuccess)
    return trouble_;
  status = Begin();
  if (status != kErrorSuccess)
    return status;
  status = Find(key, path, id, nullptr);
  if (status != kErrorSuccess)
    ReleaseIfUnchanged();
  return status;
}

Status Store::EndOwnerChange(Status status) {
  if (status != kErrorSuccess) {
    ReleaseIfUnchanged();
    return status;
  }
  NoteKeysChanged();
  verified_keys_.clear();
  key_cache_.Forget();
  return held_ ? kErrorSuccess : Commit();
}

Status Store::ChangeKeyFlags(RegKey key, const std::string& path, std::uint32_t set,
                             std::uint32_t clear) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::int64_t id = 0;
  Status status = BeginOwnerChange(key, path, &id);
  if (status != kErrorSuccess)
    return status;
  StatementUse use(Statement(kSetFlags));
  sqlite3_bind_int64(use.get(), 1, id);
  sqlite3_bind_int64(use.get(), 2, set);
  sqlite3_bind_int64(use.get(), 3, clear);
  const int rc = sqlite3_step(use.get());
  sqlite3_reset(use.get());
  return EndOwnerChange(rc == SQLITE_DONE ? kErrorSuccess : Fail(rc));
}

Status Store::TreeIsProtected(std::int64_t id, bool* is_protected) {
  Status status = ProtectedFrom(id, is_protected);
  if (status != kErrorSuccess || *is_protected)
    return status;
  StatementUse use(Statement(kProtectedBelow));
  sqlite3_bind_int64(use.get(), 1, id);
  const int rc = sqlite3_step(use.get());
  if (rc == SQLITE_ROW)
    *is_protected = true;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? kErrorSuccess : Fail(rc);
}

Status Store::DeleteTree(RegKey key, const std::string& path, bool even_protected) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::int64_t id = 0;
  Status status = BeginOwnerChange(key, path, &id);
  if (status != kErrorSuccess)
    return status;
  if (!even_protected) {
    bool is_protected = false;
    status = TreeIsProtected(id, &is_protected);
    if (status == kErrorSuccess && is_protected)
      status = kErrorAccessDenied;
  }
  for (StatementId statement : {kDeleteTreeValues, kDeleteTreeKeys}) {
    if (status != kErrorSuccess)
      break;
    StatementUse use(Statement(statement));
    sqlite3_bind_int64(use.get(), 1, id);
    const int rc = sqlite3_step(use.get());
    if (rc != SQLITE_DONE)
      status = Fail(rc);
  }
  return EndOwnerChange(status);
}

}  // namespace regstore
