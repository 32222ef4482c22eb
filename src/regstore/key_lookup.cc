#include "regstore/key_lookup.h"

#include "regstore/names.h"
#include "regstore/schema.h"
#include "regstore/walk.h"

namespace regstore {

using namespace regdefs;

Status KeyLookup::CheckDepth(std::int64_t base_id, std::size_t names) {
  std::size_t depth = names;
  for (std::int64_t id = base_id; id < kFirstRootId || id > kLastRootId;) {
    std::int64_t parent = 0;
    std::uint32_t flags = 0;
    Status status = KeyRow(id, &parent, &flags);
    if (status != kErrorSuccess)
      return status;
    if (++depth > kMaxKeyDepth)
      return kErrorInvalidParameter;
    id = parent;
  }
  return depth > kMaxKeyDepth ? kErrorInvalidParameter : kErrorSuccess;
}

Status KeyLookup::LookupChild(std::int64_t parent, std::string_view folded, std::int64_t* id,
                              std::uint32_t* flags, std::string* stored_name) {
  StatementUse use(connection_.Statement(kFindChild));
  sqlite3_bind_int64(use.get(), 1, parent);
  BindText(use.get(), 2, folded);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE)
    return kErrorFileNotFound;
  if (rc != SQLITE_ROW)
    return connection_.Fail(rc);
  *id = sqlite3_column_int64(use.get(), 0);
  *flags = static_cast<std::uint32_t>(sqlite3_column_int64(use.get(), 1));
  if (stored_name)
    *stored_name = ColumnText(use.get(), 2);
  return kErrorSuccess;
}

Status KeyLookup::KeyRow(std::int64_t id, std::int64_t* parent, std::uint32_t* flags) {
  StatementUse use(connection_.Statement(kKeyById));
  sqlite3_bind_int64(use.get(), 1, id);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE)
    return kErrorKeyDeleted;
  if (rc != SQLITE_ROW)
    return connection_.Fail(rc);
  *parent = sqlite3_column_int64(use.get(), 0);
  *flags = static_cast<std::uint32_t>(sqlite3_column_int64(use.get(), 1));
  return kErrorSuccess;
}

Status KeyLookup::ProtectedFrom(std::int64_t id, bool* is_protected) {
  *is_protected = false;
  while (id != 0) {
    std::int64_t parent = 0;
    std::uint32_t flags = 0;
    Status status = KeyRow(id, &parent, &flags);
    if (status != kErrorSuccess)
      return status;
    if (flags & kKeyProtected) {
      *is_protected = true;
      return kErrorSuccess;
    }
    id = parent;
  }
  return kErrorSuccess;
}

Status KeyLookup::MissingKeyStatus(std::int64_t id) {
  std::int64_t parent = 0;
  std::uint32_t flags = 0;
  Status status = KeyRow(id, &parent, &flags);
  return status == kErrorSuccess ? kErrorFileNotFound : status;
}

Status KeyLookup::Walk(std::int64_t base, const std::vector<std::string_view>& names,
                       std::size_t* found, std::int64_t* id, std::uint32_t* flags,
                       bool* any_protected, std::uint32_t* base_flags, std::string* stored_path) {
  *found = 0;
  *id = base;
  *flags = 0;
  *any_protected = false;
  *base_flags = 0;
  // Each name is folded once, for the cache and the database alike.
  if (folded_names_.size() < names.size())
    folded_names_.resize(names.size());
  for (std::size_t i = 0; i < names.size(); ++i)
    FoldNameInto(names[i], &folded_names_[i]);
  if (stored_path) {
    stored_path->clear();
    return WalkInStore(base, names, 0, found, id, flags, any_protected, base_flags, stored_path);
  }

  // The base's row starts the transaction's snapshot, against which the
  // cache is checked; the names then come from the cache as far as it goes.
  std::int64_t parent = 0;
  Status status = KeyRow(base, &parent, base_flags);
  if (status != kErrorSuccess)
    return status;
  key_cache_.Sync(connection_.db().DataVersion());
  key_cache_.SetFlags(base, *base_flags);
  *flags = *base_flags;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const KeyCache::Entry* child = key_cache_.Child(*id, folded_names_[i]);
    if (!child)
      break;
    *id = child->id;
    *flags = child->flags;
    if (child->flags & kKeyProtected)
      *any_protected = true;
    ++*found;
  }
  if (*found == names.size())
    return kErrorSuccess;
  std::uint32_t ignored = 0;
  return WalkInStore(*id, names, *found, found, id, flags, any_protected, &ignored, nullptr);
}

Status KeyLookup::WalkInStore(std::int64_t base, const std::vector<std::string_view>& names,
                              std::size_t first, std::size_t* found, std::int64_t* id,
                              std::uint32_t* flags, bool* any_protected, std::uint32_t* base_flags,
                              std::string* stored_path) {
  auto take = [&](std::int64_t child, std::uint32_t child_flags, std::string_view stored_name) {
    if (!stored_path)
      key_cache_.AddChild(*id, folded_names_[*found], child, child_flags);
    *id = child;
    *flags = child_flags;
    if (child_flags & kKeyProtected)
      *any_protected = true;
    if (stored_path) {
      if (!stored_path->empty())
        *stored_path += '\\';
      *stored_path += stored_name;
    }
    ++*found;
  };
  const std::size_t depth = names.size() - first;

  sqlite3_stmt* chain = depth == 0 ? nullptr : connection_.db().ChainStatement(depth);
  if (!chain) {
    // The base, then one name after the other.
    std::int64_t parent = 0;
    Status status = KeyRow(base, &parent, base_flags);
    if (status != kErrorSuccess)
      return status;
    *flags = *base_flags;
    std::string stored_name;
    for (std::size_t i = first; i < names.size(); ++i) {
      std::int64_t child = 0;
      std::uint32_t child_flags = 0;
      status = LookupChild(*id, folded_names_[i], &child, &child_flags,
                           stored_path ? &stored_name : nullptr);
      if (status == kErrorFileNotFound)
        return kErrorSuccess;
      if (status != kErrorSuccess)
        return status;
      take(child, child_flags, stored_name);
    }
    return kErrorSuccess;
  }

  // The rest of the path in one statement: the base row and one outer join
  // per name, each an index lookup.
  StatementUse use(chain);
  sqlite3_bind_int64(chain, 1, base);
  for (std::size_t i = 0; i < depth; ++i)
    BindText(chain, static_cast<int>(i) + 2, folded_names_[first + i]);
  int rc = sqlite3_step(chain);
  if (rc == SQLITE_DONE)
    return kErrorKeyDeleted;
  if (rc != SQLITE_ROW)
    return connection_.Fail(rc);
  *base_flags = static_cast<std::uint32_t>(sqlite3_column_int64(chain, 0));
  for (std::size_t i = 0; i < depth; ++i) {
    const int column = 1 + 3 * static_cast<int>(i);
    if (sqlite3_column_type(chain, column) == SQLITE_NULL)
      break;
    const char* stored_name = reinterpret_cast<const char*>(sqlite3_column_text(chain, column + 2));
    take(sqlite3_column_int64(chain, column),
         static_cast<std::uint32_t>(sqlite3_column_int64(chain, column + 1)),
         stored_name ? std::string_view(stored_name, static_cast<std::size_t>(
                                                         sqlite3_column_bytes(chain, column + 2)))
                     : std::string_view());
  }
  return kErrorSuccess;
}

Status KeyLookup::BaseRefusesWrites(std::int64_t base_id, std::uint32_t base_flags, bool* refuses) {
  *refuses = (base_flags & kKeyProtected) != 0;
  // A root key has nothing above it.
  if (*refuses || (base_id >= kFirstRootId && base_id <= kLastRootId))
    return kErrorSuccess;
  return ProtectedFrom(base_id, refuses);
}

Status KeyLookup::WalkFrom(std::int64_t base, const std::vector<std::string_view>& names,
                           WalkResult* walk) {
  return Walk(base, names, &walk->found, &walk->id, &walk->flags, &walk->any_protected,
              &walk->base_flags, nullptr);
}

Status KeyLookup::FindPath(std::int64_t base, const std::string& path, std::int64_t* id,
                           StoreKeyInfo* info) {
  std::vector<std::string_view> names;
  Status status = SplitPath(path, true, &names);
  if (status != kErrorSuccess)
    return status;
  std::size_t found = 0;
  std::uint32_t flags = 0;
  std::uint32_t base_flags = 0;
  bool is_protected = false;
  std::string stored_path;
  status = Walk(base, names, &found, id, &flags, &is_protected, &base_flags, &stored_path);
  if (status != kErrorSuccess)
    return status;
  if (found < names.size())
    return kErrorFileNotFound;
  if (info) {
    info->flags = flags;
    info->path = stored_path;
  }
  return kErrorSuccess;
}

const std::string& KeyLookup::FoldValueName(std::string_view name) {
  FoldNameInto(name, &folded_value_);
  return folded_value_;
}

void KeyLookup::RememberMissing(RegKey base, const char* sub_key, const WalkResult& walk) {
  missing_base_ = base;
  missing_path_ = sub_key;
  missing_walk_ = walk;
  missing_walk_.key_epoch = key_cache_.epoch();
}

}  // namespace regstore
