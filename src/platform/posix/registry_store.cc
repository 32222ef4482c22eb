#include "platform/posix/registry_store.h"

#include "platform/posix/store.h"

namespace plat {
namespace posix {

std::string StorePath() {
  return Store::Instance().Path();
}

void UseStorePath(const std::string& path) {
  Store::Instance().UsePath(path);
}

void SetStoreWaitLimit(std::uint32_t milliseconds) {
  Store::Instance().SetWaitLimit(milliseconds);
}

Status ConnectStore(std::string* detail) {
  return Store::Instance().Connect(detail);
}

bool StoreIsReadOnly() {
  return Store::Instance().ReadOnly();
}

Status StoreFindKey(RegKey key, const std::string& path, StoreKeyInfo* info) {
  return Store::Instance().FindKey(key, path, info);
}

Status StoreListValues(RegKey key, const std::string& path, std::vector<StoreValue>* values) {
  return Store::Instance().ListValues(key, path, values);
}

Status StoreListSubkeys(RegKey key, const std::string& path, std::vector<std::string>* names) {
  return Store::Instance().ListSubkeys(key, path, names);
}

Status StoreChangeKeyFlags(RegKey key, const std::string& path, std::uint32_t set,
                           std::uint32_t clear) {
  return Store::Instance().ChangeKeyFlags(key, path, set, clear);
}

Status StoreDeleteTree(RegKey key, const std::string& path, bool even_protected) {
  return Store::Instance().DeleteTree(key, path, even_protected);
}

}  // namespace posix
}  // namespace plat
