// The five root keys: their full names, short names and predefined handles,
// in the order of their row ids in the registry store.
#ifndef BREVLIN_REGDEFS_ROOT_KEYS_H_
#define BREVLIN_REGDEFS_ROOT_KEYS_H_

#include <cstddef>
#include <string_view>

#include "regdefs/keys.h"

namespace regdefs {

struct RootKeyEntry {
  std::string_view name;        // "HKEY_CURRENT_USER"
  std::string_view short_name;  // "HKCU"
  RegKey key;
};

inline constexpr RootKeyEntry kRootKeys[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", kHkeyClassesRoot},
    {"HKEY_CURRENT_USER", "HKCU", kHkeyCurrentUser},
    {"HKEY_LOCAL_MACHINE", "HKLM", kHkeyLocalMachine},
    {"HKEY_USERS", "HKU", kHkeyUsers},
    {"HKEY_CURRENT_CONFIG", "HKCC", kHkeyCurrentConfig},
};

inline constexpr std::size_t kRootKeyCount = sizeof(kRootKeys) / sizeof(kRootKeys[0]);

// The root key whose full name is exactly `name`; null when none is.
constexpr const RootKeyEntry* RootKeyByName(std::string_view name) {
  for (const RootKeyEntry& entry : kRootKeys) {
    if (entry.name == name)
      return &entry;
  }
  return nullptr;
}

// The root key of the handle `key`; null when `key` is not a root key.
constexpr const RootKeyEntry* RootKeyByHandle(RegKey key) {
  for (const RootKeyEntry& entry : kRootKeys) {
    if (entry.key == key)
      return &entry;
  }
  return nullptr;
}

// The position of the root key `key` in kRootKeys; kRootKeyCount when `key`
// is not a root key.
constexpr std::size_t RootKeyIndex(RegKey key) {
  std::size_t i = 0;
  while (i < kRootKeyCount && kRootKeys[i].key != key)
    ++i;
  return i;
}

// The root key whose full or short name `same` finds equal to `name`, as a
// command line names it; null when none is. `same(a, b)` compares two names.
template <typename Same>
const RootKeyEntry* RootKeyByAnyName(std::string_view name, Same same) {
  for (const RootKeyEntry& entry : kRootKeys) {
    if (same(name, entry.name) || same(name, entry.short_name))
      return &entry;
  }
  return nullptr;
}

}  // namespace regdefs

#endif  // BREVLIN_REGDEFS_ROOT_KEYS_H_
