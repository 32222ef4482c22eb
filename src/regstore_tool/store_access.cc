#include "regstore_tool/store_access.h"

#include "platform/root_keys.h"
#include "regstore/names.h"

namespace regstore_tool {

namespace {

// The path without empty names.
std::string Normalized(const std::string& path) {
  std::string clean;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos)
      end = path.size();
    if (end > start)
      clean.append(clean.empty() ? "" : "\\").append(path, start, end - start);
    start = end + 1;
  }
  return clean;
}

}  // namespace

std::string KeyName::FullNameAt(std::string_view below_root) const {
  std::string name(root_name);
  if (!below_root.empty())
    name.append(1, '\\').append(below_root);
  return name;
}

KeyName KeyName::WithPath(const std::string& below_root) const {
  KeyName key = *this;
  key.path = below_root;
  key.written = key.FullName();
  return key;
}

KeyName KeyName::Child(const std::string& name) const {
  return WithPath(path.empty() ? name : path + "\\" + name);
}

bool SplitKeyName(const std::string& text, KeyName* key) {
  const std::string::size_type slash = text.find('\\');
  const plat::RootKeyEntry* root =
      plat::RootKeyByAnyName(std::string_view(text).substr(0, slash), regstore::SameName);
  if (!root)
    return false;
  key->root = root->key;
  key->root_name = root->name.data();
  key->path = slash == std::string::npos ? std::string() : Normalized(text.substr(slash + 1));
  key->written = key->FullName();
  return true;
}

Status LookUpKey(KeyName* key) {
  regstore::StoreKeyInfo info;
  const Status status = regstore::StoreFindKey(key->root, key->path, &info);
  if (status == kErrorSuccess)
    key->path = info.path;
  return status;
}

Status WalkKey(const KeyName& key, bool recursive, KeyVisitor* visitor) {
  return regstore::StoreWalk(key.root, key.path, recursive, visitor);
}

Status DeleteKeyTree(const KeyName& key) {
  return regstore::StoreDeleteTree(key.root, key.path, false);
}

Status ChangeKeyFlags(const KeyName& key, std::uint32_t set, std::uint32_t clear) {
  return regstore::StoreChangeKeyFlags(key.root, key.path, set, clear);
}

Status OpenedKey::Create(const KeyName& key) {
  const Status closed = Close();
  if (closed != kErrorSuccess)
    return closed;
  if (key.path.empty()) {
    handle_ = key.root;
    return kErrorSuccess;
  }
  std::uint32_t disposition = 0;
  const Status status =
      regstore::CreateKey(key.root, key.path.c_str(), plat::kKeyAllAccess, &handle_, &disposition);
  owned_ = status == kErrorSuccess;
  if (!owned_)
    handle_ = plat::kNullKey;
  return status;
}

Status OpenedKey::Open(const KeyName& key) {
  const Status closed = Close();
  if (closed != kErrorSuccess)
    return closed;
  if (key.path.empty()) {
    handle_ = key.root;
    return kErrorSuccess;
  }
  const Status status = regstore::OpenKey(key.root, key.path.c_str(),
                                          plat::kKeyQueryValue | plat::kKeySetValue, &handle_);
  owned_ = status == kErrorSuccess;
  if (!owned_)
    handle_ = plat::kNullKey;
  return status;
}

bool OpenedKey::HasValue(const std::string& name) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  const Status status = regstore::QueryValue(handle_, name.c_str(), nullptr, &type, nullptr, &size);
  return status == kErrorSuccess || status == plat::kErrorMoreData;
}

Status OpenedKey::SetValue(const std::string& name, std::uint32_t type,
                           const std::vector<std::uint8_t>& data) {
  return regstore::SetValue(handle_, name.c_str(), type, data.data(),
                            static_cast<std::uint32_t>(data.size()));
}

Status OpenedKey::DeleteValue(const std::string& name) {
  return regstore::DeleteValue(handle_, name.c_str());
}

Status OpenedKey::Close() {
  // A root key's handle is predefined: closing it ends its changes' part in
  // the group, as for any other key.
  const Status status = handle_ == plat::kNullKey ? kErrorSuccess : regstore::CloseKey(handle_);
  handle_ = plat::kNullKey;
  owned_ = false;
  return status;
}

}  // namespace regstore_tool
