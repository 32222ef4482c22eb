// The seven registry functions, answered by the registry store. Every answer
// also goes past the watch that tells a store in trouble from a refused key.
#include "platform/registry.h"

#include <cstring>

#include "platform/posix/registry_health.h"
#include "regstore/regstore.h"

namespace plat {

using posix::WatchRegistryStatus;

namespace {

// The registry's ANSI functions turn a key path into UTF-16 in a buffer of
// MAX_PATH + 1 characters before the registry sees it, and fail with
// ERROR_MORE_DATA when it does not fit: under Wine a path of 260 characters
// opens, one of 261 does not, whatever its names.
constexpr std::size_t kMaxAnsiKeyPath = 260;

bool AnsiPathTooLong(const char* sub_key) {
  return sub_key != nullptr && std::strlen(sub_key) > kMaxAnsiKeyPath;
}

}  // namespace

Status RegOpenKeyExA(RegKey key, const char* sub_key, std::uint32_t /*options*/,
                     std::uint32_t access, RegKey* result) {
  if (AnsiPathTooLong(sub_key)) {
    if (result)
      *result = kNullKey;
    return kErrorMoreData;
  }
  return WatchRegistryStatus(regstore::OpenKey(key, sub_key, access, result));
}

Status RegCreateKeyExA(RegKey key, const char* sub_key, std::uint32_t /*reserved*/,
                       const char* /*key_class*/, std::uint32_t /*options*/, std::uint32_t access,
                       const void* /*security_attributes*/, RegKey* result,
                       std::uint32_t* disposition) {
  if (AnsiPathTooLong(sub_key)) {
    if (result)
      *result = kNullKey;
    return kErrorMoreData;
  }
  return WatchRegistryStatus(regstore::CreateKey(key, sub_key, access, result, disposition));
}

Status RegSetValueExA(RegKey key, const char* value_name, std::uint32_t /*reserved*/,
                      std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  return WatchRegistryStatus(regstore::SetValue(key, value_name, type, data, size));
}

Status RegQueryValueExA(RegKey key, const char* value_name, std::uint32_t* reserved,
                        std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  return WatchRegistryStatus(regstore::QueryValue(key, value_name, reserved, type, data, size));
}

Status RegDeleteValueA(RegKey key, const char* value_name) {
  return WatchRegistryStatus(regstore::DeleteValue(key, value_name));
}

Status RegFlushKey(RegKey key) {
  return WatchRegistryStatus(regstore::FlushKey(key));
}

Status RegCloseKey(RegKey key) {
  return WatchRegistryStatus(regstore::CloseKey(key));
}

void FlushPendingWrites() {
  // A failed commit is noted by the store, which then refuses every later
  // change: the program learns of it at its next write or its flush.
  static_cast<void>(regstore::CommitPending());
}

Status FlushWritesToDisk() {
  // Without a connection this process changed nothing, and nothing is
  // opened or made here.
  return regstore::CommitToDisk();
}

Status RegistryState() {
  return regstore::StoreState();
}

}  // namespace plat
