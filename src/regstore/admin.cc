#include "regstore/store.h"
#include "regstore/transaction.h"

namespace regstore {

using namespace plat;

Status Store::FindKey(RegKey key, const std::string& path, StoreKeyInfo* info) {
  std::lock_guard<std::mutex> lock(mutex_);
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(this);
  std::int64_t id = 0;
  return Find(key, path, &id, info);
}

template <typename TakeRow>
Status Store::ListRows(RegKey key, const std::string& path, StatementId statement,
                       TakeRow take_row) {
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(this);
  std::int64_t id = 0;
  status = Find(key, path, &id, nullptr);
  if (status != kErrorSuccess)
    return status;
  StatementUse use(Statement(statement));
  sqlite3_bind_int64(use.get(), 1, id);
  int rc;
  while ((rc = sqlite3_step(use.get())) == SQLITE_ROW)
    take_row(use.get());
  return rc == SQLITE_DONE ? kErrorSuccess : Fail(rc);
}

Status Store::ListValues(RegKey key, const std::string& path, std::vector<StoreValue>* values) {
  std::lock_guard<std::mutex> lock(mutex_);
  values->clear();
  return ListRows(key, path, kListValues, [values](sqlite3_stmt* row) {
    StoreValue value;
    value.name = ColumnText(row, 0);
    value.type = static_cast<std::uint32_t>(sqlite3_column_int64(row, 1));
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, 2));
    value.data.assign(bytes, bytes + sqlite3_column_bytes(row, 2));
    values->push_back(std::move(value));
  });
}

Status Store::ListSubkeys(RegKey key, const std::string& path, std::vector<std::string>* names) {
  std::lock_guard<std::mutex> lock(mutex_);
  names->clear();
  return ListRows(key, path, kListSubkeys,
                  [names](sqlite3_stmt* row) { names->push_back(ColumnText(row, 0)); });
}

Status Store::BeginOwnerChange(RegKey key, const std::string& path, std::int64_t* id) {
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  if (read_only_)
    return kErrorAccessDenied;
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
  return Commit();
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
