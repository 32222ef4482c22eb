#include "regstore/regstore.h"

#include "regstore/store.h"

namespace regstore {

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

Status StoreState() {
  return Store::Instance().State();
}

Status StoreFindKey(RegKey key, const std::string& path, StoreKeyInfo* info) {
  return Store::Instance().FindKey(key, path, info);
}

Status StoreWalk(RegKey key, const std::string& path, bool recursive, StoreVisitor* visitor) {
  return Store::Instance().WalkTree(key, path, recursive, visitor);
}

namespace {

// A walk of one key that passes its values or its subkeys' names on.
class OneKeyVisitor : public StoreVisitor {
 public:
  std::function<bool(const StoreValueView&)> on_value;
  std::function<bool(std::string_view)> on_subkey;
  bool Key(const std::string&) override { return true; }
  bool Value(const StoreValueView& value) override { return !on_value || on_value(value); }
  // Without a subkey callback there is nothing more to read.
  bool Subkey(std::string_view name) override { return on_subkey && on_subkey(name); }
};

}  // namespace

Status StoreForEachValue(RegKey key, const std::string& path,
                         const std::function<bool(const StoreValueView&)>& visit) {
  OneKeyVisitor visitor;
  visitor.on_value = visit;
  return Store::Instance().WalkTree(key, path, false, &visitor);
}

Status StoreForEachSubkey(RegKey key, const std::string& path,
                          const std::function<bool(std::string_view)>& visit) {
  OneKeyVisitor visitor;
  visitor.on_subkey = visit;
  return Store::Instance().WalkTree(key, path, false, &visitor, false);
}

Status StoreListValues(RegKey key, const std::string& path, std::vector<StoreValue>* values) {
  values->clear();
  return StoreForEachValue(key, path, [values](const StoreValueView& value) {
    values->push_back({std::string(value.name), value.type,
                       std::vector<std::uint8_t>(value.data, value.data + value.size)});
    return true;
  });
}

Status StoreListSubkeys(RegKey key, const std::string& path, std::vector<std::string>* names) {
  names->clear();
  return StoreForEachSubkey(key, path, [names](std::string_view name) {
    names->emplace_back(name);
    return true;
  });
}

Status StoreChangeKeyFlags(RegKey key, const std::string& path, std::uint32_t set,
                           std::uint32_t clear) {
  return Store::Instance().ChangeKeyFlags(key, path, set, clear);
}

Status StoreDeleteTree(RegKey key, const std::string& path, bool even_protected) {
  return Store::Instance().DeleteTree(key, path, even_protected);
}

Status OpenKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result) {
  return Store::Instance().OpenKey(base, sub_key, access, result);
}

Status CreateKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result,
                 std::uint32_t* disposition) {
  return Store::Instance().CreateKey(base, sub_key, access, result, disposition);
}

Status SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                std::uint32_t size) {
  return Store::Instance().SetValue(key, name, type, data, size);
}

Status QueryValue(RegKey key, const char* name, const std::uint32_t* reserved, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* size) {
  return Store::Instance().QueryValue(key, name, reserved, type, data, size);
}

Status DeleteValue(RegKey key, const char* name) {
  return Store::Instance().DeleteValue(key, name);
}

Status FlushKey(RegKey key) {
  return Store::Instance().Flush(key);
}

Status CloseKey(RegKey key) {
  return Store::Instance().Close(key);
}

Status CommitPending() {
  return Store::Instance().CommitPending();
}

void HoldChanges() {
  Store::Instance().HoldChanges();
}

void DiscardChanges() {
  Store::Instance().DiscardChanges();
}

Status CommitToDisk() {
  return Store::Instance().CommitToDisk();
}

}  // namespace regstore
