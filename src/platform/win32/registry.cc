#include "platform/registry.h"

#include "platform/win32/windows_wrapper.h"

namespace plat {

namespace {

HKEY AsHkey(RegKey key) {
  return reinterpret_cast<HKEY>(key);
}

}  // namespace

Status RegOpenKeyExA(RegKey key, const char* sub_key, std::uint32_t options, std::uint32_t access,
                     RegKey* result) {
  HKEY opened = nullptr;
  LONG status = ::RegOpenKeyExA(AsHkey(key), sub_key, options, access, result ? &opened : nullptr);
  if (result)
    *result = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(opened) : kNullKey;
  return static_cast<Status>(status);
}

Status RegCreateKeyExA(RegKey key, const char* sub_key, std::uint32_t reserved,
                       const char* key_class, std::uint32_t options, std::uint32_t access,
                       const void* security_attributes, RegKey* result,
                       std::uint32_t* disposition) {
  HKEY created = nullptr;
  DWORD how = 0;
  LONG status = ::RegCreateKeyExA(
      AsHkey(key), sub_key, reserved, const_cast<char*>(key_class), options, access,
      static_cast<LPSECURITY_ATTRIBUTES>(const_cast<void*>(security_attributes)),
      result ? &created : nullptr, disposition ? &how : nullptr);
  if (result)
    *result = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(created) : kNullKey;
  if (disposition && status == ERROR_SUCCESS)
    *disposition = how;
  return static_cast<Status>(status);
}

Status RegSetValueExA(RegKey key, const char* value_name, std::uint32_t reserved,
                      std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  return static_cast<Status>(
      ::RegSetValueExA(AsHkey(key), value_name, reserved, type, data, static_cast<DWORD>(size)));
}

Status RegQueryValueExA(RegKey key, const char* value_name, std::uint32_t* reserved,
                        std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  // DWORD and std::uint32_t are different types to the compiler; the values
  // pass through locals.
  DWORD reserved_word = reserved ? *reserved : 0;
  DWORD type_word = 0;
  DWORD size_word = size ? *size : 0;
  LONG status = ::RegQueryValueExA(AsHkey(key), value_name, reserved ? &reserved_word : nullptr,
                                   type ? &type_word : nullptr, data, size ? &size_word : nullptr);
  if (type && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA))
    *type = type_word;
  if (size && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA))
    *size = size_word;
  return static_cast<Status>(status);
}

Status RegDeleteValueA(RegKey key, const char* value_name) {
  return static_cast<Status>(::RegDeleteValueA(AsHkey(key), value_name));
}

Status RegFlushKey(RegKey key) {
  return static_cast<Status>(::RegFlushKey(AsHkey(key)));
}

Status RegCloseKey(RegKey key) {
  return static_cast<Status>(::RegCloseKey(AsHkey(key)));
}

Status RegistryState() {
  return kErrorSuccess;
}

}  // namespace plat
