#include "testing/registry_fixture.h"

#include "platform/root_keys.h"

// clang-format off
#include "platform/win32/registry_calls.h"
#include "platform/win32/windows_wrapper.h"
#include <sddl.h>
// clang-format on

namespace testing_support {

namespace {

// Everyone may read; nobody may write, create subkeys or delete.
constexpr char kReadOnlyAcl[] = "D:P(A;OICI;KR;;;WD)";
// Everyone may do everything.
constexpr char kFullAccessAcl[] = "D:P(A;OICI;KA;;;WD)";

HKEY AsHkey(plat::RegKey key) {
  return reinterpret_cast<HKEY>(key);
}

std::vector<std::string> Subkeys(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof(name);
    if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  return names;
}

// Gives the key at `path` and every key below it the access list `sddl`.
bool SetTreeSecurity(plat::RegKey root, const std::string& path, const char* sddl) {
  // Keys kept open by the registry functions would keep the access they were
  // opened with.
  plat::win32::CloseKeptKeys();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return false;
  }
  bool ok = false;
  {
    ScopedRegKey key;
    if (key.Open(root, path, WRITE_DAC) == plat::kErrorSuccess) {
      ok = ::RegSetKeySecurity(AsHkey(key.get()), DACL_SECURITY_INFORMATION, descriptor) ==
           ERROR_SUCCESS;
    }
  }
  ::LocalFree(descriptor);
  if (!ok)
    return false;
  ScopedRegKey key;
  if (key.Open(root, path, KEY_READ) != plat::kErrorSuccess)
    return false;
  for (const std::string& name : Subkeys(AsHkey(key.get()))) {
    if (!SetTreeSecurity(root, path.empty() ? name : path + "\\" + name, sddl))
      ok = false;
  }
  return ok;
}

void DeleteTestTrees() {
  plat::win32::CloseKeptKeys();
  DeleteKeyTree(reinterpret_cast<plat::RegKey>(HKEY_CURRENT_USER), "Software\\Mardovan");
  DeleteKeyTree(reinterpret_cast<plat::RegKey>(HKEY_CURRENT_USER), "Software\\BrevlinTest");
  DeleteKeyTree(reinterpret_cast<plat::RegKey>(HKEY_LOCAL_MACHINE), "Software\\BrevlinTest");
  for (const plat::RootKeyEntry& root : plat::kRootKeys)
    DeleteKeyTree(root.key, "BrevlinTest");
}

}  // namespace

ScopedTestRegistry::ScopedTestRegistry() {
  DeleteTestTrees();
}

ScopedTestRegistry::~ScopedTestRegistry() {
  DeleteTestTrees();
}

std::string ScopedTestRegistry::StorePath() const {
  return store_path_;
}

bool KeyExists(plat::RegKey root, const std::string& path) {
  ScopedRegKey key;
  return key.Open(root, path, KEY_READ) == plat::kErrorSuccess;
}

std::optional<StoredValue> ReadValue(plat::RegKey root, const std::string& path,
                                     const std::string& name) {
  ScopedRegKey key;
  if (key.Open(root, path, KEY_QUERY_VALUE) != plat::kErrorSuccess)
    return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExA(AsHkey(key.get()), name.c_str(), nullptr, &type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  StoredValue value{type, std::vector<std::uint8_t>(size)};
  if (::RegQueryValueExA(AsHkey(key.get()), name.c_str(), nullptr, &type, value.data.data(),
                         &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.type = type;
  value.data.resize(size);
  return value;
}

std::vector<std::string> ValueNames(plat::RegKey root, const std::string& path) {
  std::vector<std::string> names;
  ScopedRegKey key;
  if (key.Open(root, path, KEY_QUERY_VALUE) != plat::kErrorSuccess)
    return names;
  std::vector<char> name(16384);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    if (::RegEnumValueA(AsHkey(key.get()), index, name.data(), &length, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name.data(), length);
  }
  return names;
}

std::vector<std::string> SubkeyNames(plat::RegKey root, const std::string& path) {
  ScopedRegKey key;
  if (key.Open(root, path, KEY_ENUMERATE_SUB_KEYS) != plat::kErrorSuccess)
    return {};
  return Subkeys(AsHkey(key.get()));
}

bool ProtectKey(plat::RegKey root, const std::string& path) {
  return SetTreeSecurity(root, path, kReadOnlyAcl);
}

bool LockKeyValues(plat::RegKey, const std::string&) {
  // The Windows registry has no key that grants full access but refuses to
  // set its values.
  return false;
}

bool DeleteKeyTree(plat::RegKey root, const std::string& path) {
  // Never the whole of a root key.
  if (path.empty())
    return false;
  if (!KeyExists(root, path))
    return false;
  // A kept handle of a deleted key would answer the next open of its path.
  plat::win32::CloseKeptKeys();
  // A protected tree must be opened up before it can go.
  SetTreeSecurity(root, path, kFullAccessAcl);
  return ::RegDeleteTreeA(AsHkey(root), path.c_str()) == ERROR_SUCCESS;
}

}  // namespace testing_support
