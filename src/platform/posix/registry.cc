// The seven registry functions, answered by the registry store.
#include "platform/registry.h"

#include "regstore/regstore.h"

namespace plat {

Status RegOpenKeyExA(RegKey key, const char* sub_key, std::uint32_t /*options*/,
                     std::uint32_t access, RegKey* result) {
  return regstore::OpenKey(key, sub_key, access, result);
}

Status RegCreateKeyExA(RegKey key, const char* sub_key, std::uint32_t /*reserved*/,
                       const char* /*key_class*/, std::uint32_t /*options*/, std::uint32_t access,
                       const void* /*security_attributes*/, RegKey* result,
                       std::uint32_t* disposition) {
  return regstore::CreateKey(key, sub_key, access, result, disposition);
}

Status RegSetValueExA(RegKey key, const char* value_name, std::uint32_t /*reserved*/,
                      std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  return regstore::SetValue(key, value_name, type, data, size);
}

Status RegQueryValueExA(RegKey key, const char* value_name, std::uint32_t* reserved,
                        std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  return regstore::QueryValue(key, value_name, reserved, type, data, size);
}

Status RegDeleteValueA(RegKey key, const char* value_name) {
  return regstore::DeleteValue(key, value_name);
}

Status RegFlushKey(RegKey key) {
  return regstore::FlushKey(key);
}

Status RegCloseKey(RegKey key) {
  return regstore::CloseKey(key);
}

}  // namespace plat
