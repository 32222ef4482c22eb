#include "testing/registry_contents.h"

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

bool KeyExists(regdefs::RegKey root, const std::string& path) {
  return store::StoreFindKey(root, path, nullptr) == regdefs::kErrorSuccess;
}

std::optional<StoredValue> ReadValue(regdefs::RegKey root, const std::string& path,
                                     const std::string& name) {
  std::vector<store::StoreValue> values;
  if (store::StoreListValues(root, path, &values) != regdefs::kErrorSuccess)
    return std::nullopt;
  for (const store::StoreValue& value : values) {
    if (store::SameName(value.name, name))
      return StoredValue{value.type, value.data};
  }
  return std::nullopt;
}

std::vector<std::string> ValueNames(regdefs::RegKey root, const std::string& path) {
  std::vector<store::StoreValue> values;
  std::vector<std::string> names;
  store::StoreListValues(root, path, &values);
  for (const store::StoreValue& value : values)
    names.push_back(value.name);
  return names;
}

std::vector<std::string> SubkeyNames(regdefs::RegKey root, const std::string& path) {
  std::vector<std::string> names;
  store::StoreListSubkeys(root, path, &names);
  return names;
}

bool ProtectKey(regdefs::RegKey root, const std::string& path) {
  return store::StoreChangeKeyFlags(root, path, store::kKeyProtected, 0) == regdefs::kErrorSuccess;
}

bool LockKeyValues(regdefs::RegKey root, const std::string& path) {
  return store::StoreChangeKeyFlags(root, path, store::kKeyValuesLocked, 0) ==
         regdefs::kErrorSuccess;
}

bool DeleteKeyTree(regdefs::RegKey root, const std::string& path) {
  return store::StoreDeleteTree(root, path, true) == regdefs::kErrorSuccess;
}

}  // namespace testing_support
