#include "regstore/store.h"

namespace regstore {

using namespace regdefs;

Status Store::Find(RegKey key, const std::string& path, std::int64_t* id, StoreKeyInfo* info) {
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  return lookup_.FindPath(handle->key_id, path, id, info);
}

Status Store::ReadKey(RegKey key, const std::string& path, StoreKeyInfo* info,
                      const std::function<Status(std::int64_t id)>& use) {
  std::lock_guard<std::mutex> lock(mutex_);
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(&connection_, groups_.in_txn());
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
  if (connection_.read_only())
    return kErrorAccessDenied;
  if (connection_.trouble() != kErrorSuccess)
    return connection_.trouble();
  status = groups_.Begin();
  if (status != kErrorSuccess)
    return status;
  status = Find(key, path, id, nullptr);
  if (status != kErrorSuccess)
    groups_.ReleaseIfUnchanged();
  return status;
}

Status Store::EndOwnerChange(Status status) {
  if (status != kErrorSuccess) {
    groups_.ReleaseIfUnchanged();
    return status;
  }
  return groups_.CommitOwnerChange();
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
  return EndOwnerChange(rc == SQLITE_DONE ? kErrorSuccess : connection_.Fail(rc));
}

Status Store::TreeIsProtected(std::int64_t id, bool* is_protected) {
  Status status = lookup_.ProtectedFrom(id, is_protected);
  if (status != kErrorSuccess || *is_protected)
    return status;
  StatementUse use(Statement(kProtectedBelow));
  sqlite3_bind_int64(use.get(), 1, id);
  const int rc = sqlite3_step(use.get());
  if (rc == SQLITE_ROW)
    *is_protected = true;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? kErrorSuccess : connection_.Fail(rc);
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
      status = connection_.Fail(rc);
  }
  return EndOwnerChange(status);
}

}  // namespace regstore
