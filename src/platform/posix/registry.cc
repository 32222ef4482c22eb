// The seven registry functions, answered by the registry store. Every answer
// also goes past the watch that tells a store in trouble from a refused key.
#include "platform/registry.h"

#include "platform/posix/registry_health.h"
#include "regstore/regstore.h"

namespace plat {

using posix::WatchRegistryStatus;

Status RegOpenKeyExA(RegKey key, const char* sub_key, std::uint32_t /*options*/,
                     std::uint32_t access, RegKey* result) {
  return WatchRegistryStatus(regstore::OpenKey(key, sub_key, access, result));
}

Status RegCreateKeyExA(RegKey key, const char* sub_key, std::uint32_t /*reserved*/,
                       const char* /*key_class*/, std::uint32_t /*options*/, std::uint32_t access,
                       const void* /*security_attributes*/, RegKey* result,
                       std::uint32_t* disposition) {
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

}  // namespace plat
