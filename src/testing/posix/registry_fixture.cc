#include "testing/registry_fixture.h"

#include "platform/posix/registry_store.h"
#include "testing/temp_files.h"

namespace testing_support {

namespace store = plat::posix;

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
    bool same = value.name.size() == name.size();
    for (std::size_t i = 0; same && i < name.size(); ++i) {
      char a = value.name[i];
      char b = name[i];
      if (a >= 'A' && a <= 'Z')
        a = static_cast<char>(a - 'A' + 'a');
      if (b >= 'A' && b <= 'Z')
        b = static_cast<char>(b - 'A' + 'a');
      same = a == b;
    }
    if (same)
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
