// The seven registry functions, answered by the registry store.
#include "platform/registry.h"

#include "platform/posix/store.h"

namespace plat {

Status RegOpenKeyExA(RegKey key, const char* sub_key, std::uint32_t /*options*/,
                     std::uint32_t access, RegKey* result) {
  return posix::Store::Instance().OpenKey(key, sub_key, access, result);
}

Status RegCreateKeyExA(RegKey key, const char* sub_key, std::uint32_t /*reserved*/,
                       const char* /*key_class*/, std::uint32_t /*options*/, std::uint32_t access,
                       const void* /*security_attributes*/, RegKey* result,
                       std::uint32_t* disposition) {
  return posix::Store::Instance().CreateKey(key, sub_key, access, result, disposition);
}

Status RegSetValueExA(RegKey key, const char* value_name, std::uint32_t /*reserved*/,
                      std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  return posix::Store::Instance().SetValue(key, value_name, type, data, size);
}

Status RegQueryValueExA(RegKey key, const char* value_name, std::uint32_t* reserved,
                        std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  return posix::Store::Instance().QueryValue(key, value_name, reserved, type, data, size);
}

Status RegDeleteValueA(RegKey key, const char* value_name) {
  return posix::Store::Instance().DeleteValue(key, value_name);
}

Status RegFlushKey(RegKey key) {
  return posix::Store::Instance().Flush(key);
}

Status RegCloseKey(RegKey key) {
  return posix::Store::Instance().Close(key);
}

Status RegistryState() {
  return posix::Store::Instance().State();
}

}  // namespace plat
