#include "testing/registry_fixture.h"

#include "regstore/regstore.h"
#include "testing/temp_files.h"

namespace testing_support {

namespace store = regstore;

ScopedTestRegistry::ScopedTestRegistry()
    : store_path_(JoinPath(NewTempDir(), "registry.db")), previous_path_(store::StorePath()) {
  store::UseStorePath(store_path_);
}

ScopedTestRegistry::~ScopedTestRegistry() {
  store::UseStorePath(previous_path_);
}

std::string ScopedTestRegistry::StorePath() const {
  return store_path_;
}

bool KeyExists(plat::RegKey root, const std::string& path) {
  return store::StoreFindKey(root, path, nullptr) == plat::kErrorSuccess;
}

std::optional<StoredValue> ReadValue(plat::RegKey root, const std::string& path,
                                     const std::string& name) {
  std::vector<store::StoreValue> values;
  if (store::StoreListValues(root, path, &values) != plat::kErrorSuccess)
    return std::nullopt;
  for (const store::StoreValue& value : values) {
    if (store::SameName(value.name, name))
      return StoredValue{value.type, value.data};
  }
  return std::nullopt;
}

std::vector<std::string> ValueNames(plat::RegKey root, const std::string& path) {
  std::vector<store::StoreValue> values;
  std::vector<std::string> names;
  store::StoreListValues(root, path, &values);
  for (const store::StoreValue& value : values)
    names.push_back(value.name);
  return names;
}

std::vector<std::string> SubkeyNames(plat::RegKey root, const std::string& path) {
  std::vector<std::string> names;
  store::StoreListSubkeys(root, path, &names);
  return names;
}

bool ProtectKey(plat::RegKey root, const std::string& path) {
  return store::StoreChangeKeyFlags(root, path, store::kKeyProtected, 0) == plat::kErrorSuccess;
}

bool LockKeyValues(plat::RegKey root, const std::string& path) {
  return store::StoreChangeKeyFlags(root, path, store::kKeyValuesLocked, 0) == plat::kErrorSuccess;
}

bool DeleteKeyTree(plat::RegKey root, const std::string& path) {
  return store::StoreDeleteTree(root, path, true) == plat::kErrorSuccess;
}

}  // namespace testing_support
