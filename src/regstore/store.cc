#include "regstore/store.h"

#include <cstring>
#include <optional>

#include "regstore/names.h"
#include "regstore/schema.h"
#include "regstore/walk.h"

namespace regstore {

using namespace regdefs;

namespace {

// Longest value name, in bytes.
constexpr std::size_t kMaxValueNameLength = 16383;

// The rights that a protected key or a read-only store refuses.
constexpr std::uint32_t kWriteRights =
    kKeySetValue | kKeyCreateSubKey | kKeyCreateLink | kDelete | kWriteDac | kWriteOwner;

std::uint32_t NormalizeAccess(std::uint32_t access) {
  access &= ~kKeyWow64Res;
  if (access & kGenericRead)
    access |= kKeyRead;
  if (access & kGenericExecute)
    access |= kKeyRead;
  if (access & kGenericWrite)
    access |= kKeyWrite;
  if (access & kGenericAll)
    access |= kKeyAllAccess;
  return access & ~(kGenericRead | kGenericExecute | kGenericWrite | kGenericAll);
}

// The rights an open grants: MAXIMUM_ALLOWED becomes all rights, or only
// reading where writes are refused.
std::uint32_t GrantedAccess(std::uint32_t access, bool refuses_writes) {
  if (access & kMaximumAllowed)
    access = (access & ~kMaximumAllowed) | (refuses_writes ? kKeyRead : kKeyAllAccess);
  return access;
}

}  // namespace

Store::Handle* Store::Resolve(RegKey key) {
  return handles_.Find(key);
}

Status Store::ResolveForValueChange(RegKey key, Handle** handle) {
  *handle = Resolve(key);
  if (!*handle)
    return kErrorInvalidHandle;
  return ((*handle)->access & kKeySetValue) ? kErrorSuccess : kErrorAccessDenied;
}

Status Store::StartOpen(RegKey base, const char* sub_key, bool for_create, RegKey* result,
                        OpenTarget* target) {
  if (!result)
    return kErrorInvalidParameter;
  *result = kNullKey;
  target->handle = Resolve(base);
  if (!target->handle)
    return kErrorInvalidHandle;
  std::string_view path = sub_key ? sub_key : "";
  if (!for_create && base == kHkeyClassesRoot && !path.empty() && path[0] == '\\')
    path.remove_prefix(1);
  return SplitPath(path, false, &target->names);
}

Status Store::BeginValueChange(RegKey key, const Handle& handle) {
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  status = groups_.BeginWrite();
  if (status != kErrorSuccess)
    return status;
  std::uint32_t flags = 0;
  status = groups_.VerifiedFlags(handle.key_id, &flags);
  if (status == kErrorSuccess && (flags & kKeyValuesLocked))
    status = kErrorAccessDenied;
  // A root key handle is never opened, so its protection is checked here.
  if (status == kErrorSuccess && HandleTable::IsRoot(key) && (flags & kKeyProtected))
    status = kErrorAccessDenied;
  if (status != kErrorSuccess)
    groups_.ReleaseIfUnchanged();
  return status;
}

Status Store::OpenKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result) {
  std::lock_guard<std::mutex> lock(mutex_);
  OpenTarget target;
  Status status = StartOpen(base, sub_key, false, result, &target);
  if (status != kErrorSuccess)
    return status;
  status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(&connection_, groups_.in_txn());

  access = NormalizeAccess(access);
  const std::int64_t base_id = target.handle->key_id;
  KeyLookup::WalkResult walk;
  status = lookup_.WalkFrom(base_id, target.names, &walk);
  if (status != kErrorSuccess)
    return status;
  if (walk.found < target.names.size()) {
    lookup_.RememberMissing(base, sub_key, walk);
    return kErrorFileNotFound;
  }

  const bool read_only = connection_.read_only();
  bool refuses_writes = read_only || walk.any_protected;
  if (!refuses_writes && (access & (kWriteRights | kMaximumAllowed))) {
    status = lookup_.BaseRefusesWrites(base_id, walk.base_flags, &refuses_writes);
    if (status != kErrorSuccess)
      return status;
  }
  access = GrantedAccess(access, refuses_writes);
  if ((access & kWriteRights) && read_only)
    return connection_.RefuseReadOnly();
  if ((access & kWriteRights) && refuses_writes)
    return kErrorAccessDenied;

  *result = handles_.Add(walk.id, access);
  return kErrorSuccess;
}

Status Store::CreateKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result,
                        std::uint32_t* disposition) {
  std::lock_guard<std::mutex> lock(mutex_);
  OpenTarget target;
  Status status = StartOpen(base, sub_key, true, result, &target);
  if (status != kErrorSuccess)
    return status;
  // A create that follows a failed open of the same key (as a write probe
  // does) goes straight to the write transaction, which looks again anyway.
  const bool likely_missing = !target.names.empty() && lookup_.IsRememberedMissing(base, sub_key);
  const KeyLookup::WalkResult missing_walk = lookup_.missing_walk();
  status = Enter();
  if (status != kErrorSuccess)
    return status;
  // The lookups share one snapshot; a write transaction ends it. A key that
  // is likely missing is looked up in the write transaction only.
  std::optional<ReadScope> read;
  if (!likely_missing)
    read.emplace(&connection_, groups_.in_txn());

  access = NormalizeAccess(access);
  const std::int64_t base_id = target.handle->key_id;
  KeyLookup::WalkResult walk;
  if (!likely_missing) {
    status = lookup_.WalkFrom(base_id, target.names, &walk);
    if (status != kErrorSuccess)
      return status;
  }

  bool created = false;
  const bool read_only = connection_.read_only();
  bool refuses_writes = read_only || walk.any_protected;
  if (walk.found < target.names.size()) {
    // Look again inside the write transaction: another process may have
    // created or deleted keys on the way since. After a failed open of the
    // same key, with no change to the keys since (no other connection
    // wrote, and no transaction of this one was undone), what that open
    // found holds.
    status = groups_.BeginWrite();
    if (status != kErrorSuccess)
      return status;
    if (likely_missing && missing_walk.key_epoch == lookup_.cache().epoch()) {
      walk = missing_walk;
    } else {
      status = lookup_.WalkFrom(base_id, target.names, &walk);
    }
    refuses_writes = walk.any_protected;
    if (status == kErrorSuccess && !refuses_writes)
      status = lookup_.BaseRefusesWrites(base_id, walk.base_flags, &refuses_writes);
    // Creating a key needs write access to the key above it.
    if (status == kErrorSuccess && walk.found < target.names.size() && refuses_writes)
      status = kErrorAccessDenied;
    if (status == kErrorSuccess && walk.found < target.names.size())
      status = lookup_.CheckDepth(base_id, target.names.size());
    for (std::size_t i = walk.found; status == kErrorSuccess && i < target.names.size(); ++i) {
      StatementUse use(Statement(kInsertKey));
      sqlite3_bind_int64(use.get(), 1, walk.id);
      BindText(use.get(), 2, lookup_.folded_name(i));
      BindText(use.get(), 3, target.names[i]);
      int rc = sqlite3_step(use.get());
      if (rc != SQLITE_DONE) {
        status = connection_.Fail(rc);
        break;
      }
      const std::int64_t parent = walk.id;
      walk.id = sqlite3_last_insert_rowid(connection_.db().get());
      walk.flags = 0;
      created = true;
      groups_.NoteKeysChanged();
      lookup_.cache().AddChild(parent, lookup_.folded_name(i), walk.id, walk.flags);
    }
    if (status != kErrorSuccess) {
      groups_.ReleaseIfUnchanged();
      return status;
    }
  } else if (!refuses_writes && (access & (kWriteRights | kMaximumAllowed))) {
    status = lookup_.BaseRefusesWrites(base_id, walk.base_flags, &refuses_writes);
    if (status != kErrorSuccess)
      return status;
  }

  access = GrantedAccess(access, refuses_writes);
  if (!created && (access & kWriteRights) && refuses_writes) {
    groups_.ReleaseIfUnchanged();
    return read_only ? connection_.RefuseReadOnly() : kErrorAccessDenied;
  }
  const RegKey new_handle = handles_.Add(walk.id, access);
  if (created)
    MarkDirty(handles_.Find(new_handle));
  groups_.ReleaseIfUnchanged();
  *result = new_handle;
  if (disposition)
    *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return kErrorSuccess;
}

Status Store::SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = nullptr;
  Status status = ResolveForValueChange(key, &handle);
  if (status != kErrorSuccess)
    return status;
  const std::string_view value_name = name ? name : "";
  if (value_name.size() > kMaxValueNameLength)
    return kErrorInvalidParameter;
  if (!data && size != 0)
    return kErrorNoAccess;
  if (size > 0x7FFFFFFFu)
    return kErrorInvalidParameter;
  status = BeginValueChange(key, *handle);
  if (status != kErrorSuccess)
    return status;
  const std::string& folded_value = lookup_.FoldValueName(value_name);

  // A new value is inserted; an existing one is updated in place, which
  // keeps its position among the key's values.
  static const std::uint8_t kEmpty = 0;
  auto store_row = [&](StatementId statement) {
    StatementUse use(Statement(statement));
    sqlite3_bind_int64(use.get(), 1, handle->key_id);
    BindText(use.get(), 2, folded_value);
    if (statement == kInsertValue)
      BindText(use.get(), 5, value_name);
    sqlite3_bind_int64(use.get(), 3, type);
    // Data longer than the store takes is refused here; bound as nothing, it
    // would be skipped by the insert without a word.
    int bound = sqlite3_bind_blob(use.get(), 4, data ? data : &kEmpty, static_cast<int>(size),
                                  SQLITE_STATIC);
    return bound == SQLITE_OK ? sqlite3_step(use.get()) : bound;
  };
  int rc = store_row(kInsertValue);
  const bool inserted = rc == SQLITE_DONE && sqlite3_changes(connection_.db().get()) != 0;
  if (rc == SQLITE_DONE && !inserted)
    rc = store_row(kUpdateValue);
  if (rc != SQLITE_DONE) {
    status = connection_.Fail(rc);
    groups_.ReleaseIfUnchanged();
    return status;
  }
  groups_.NoteValueSet(handle->key_id, folded_value, inserted);
  MarkDirty(handle);
  return kErrorSuccess;
}

Status Store::QueryValue(RegKey key, const char* name, const std::uint32_t* reserved,
                         std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  if (reserved || (data && !size))
    return kErrorInvalidParameter;
  if (!(handle->access & kKeyQueryValue))
    return kErrorAccessDenied;
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;

  StatementUse use(Statement(kFindValue));
  sqlite3_bind_int64(use.get(), 1, handle->key_id);
  BindText(use.get(), 2, lookup_.FoldValueName(name ? name : ""));
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE) {
    sqlite3_reset(use.get());
    return lookup_.MissingKeyStatus(handle->key_id);
  }
  if (rc != SQLITE_ROW)
    return connection_.Fail(rc);
  const std::uint32_t length = static_cast<std::uint32_t>(sqlite3_column_bytes(use.get(), 1));
  if (type)
    *type = static_cast<std::uint32_t>(sqlite3_column_int64(use.get(), 0));
  if (data) {
    if (*size < length) {
      *size = length;
      return kErrorMoreData;
    }
    if (length != 0)
      std::memcpy(data, sqlite3_column_blob(use.get(), 1), length);
  }
  if (size)
    *size = length;
  return kErrorSuccess;
}

Status Store::DeleteValue(RegKey key, const char* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = nullptr;
  Status status = ResolveForValueChange(key, &handle);
  if (status != kErrorSuccess)
    return status;
  status = BeginValueChange(key, *handle);
  if (status != kErrorSuccess)
    return status;

  const std::string& folded_value = lookup_.FoldValueName(name ? name : "");
  {
    StatementUse use(Statement(kDeleteValue));
    sqlite3_bind_int64(use.get(), 1, handle->key_id);
    BindText(use.get(), 2, folded_value);
    int rc = sqlite3_step(use.get());
    if (rc != SQLITE_DONE) {
      status = connection_.Fail(rc);
    } else if (sqlite3_changes(connection_.db().get()) == 0) {
      status = kErrorFileNotFound;
    }
  }
  if (status == kErrorSuccess) {
    groups_.NoteValueDeleted(handle->key_id, folded_value);
    MarkDirty(handle);
  }
  groups_.ReleaseIfUnchanged();
  return status;
}

Status Store::Flush(RegKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  status = groups_.Commit();
  const Status synced = connection_.read_only() ? kErrorSuccess : connection_.SyncToDisk();
  if (status == kErrorSuccess)
    status = synced;
  if (status != kErrorSuccess)
    return status;
  std::int64_t parent = 0;
  std::uint32_t flags = 0;
  return lookup_.KeyRow(handle->key_id, &parent, &flags);
}

Status Store::Close(RegKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  const Status status = groups_.CloseChanged(*handle, HandleTable::IsRoot(key));
  // Root key handles are predefined; closing one changes nothing else.
  handles_.Remove(key);
  return status;
}

}  // namespace regstore
