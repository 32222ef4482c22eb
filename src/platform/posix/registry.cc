// The seven registry functions, answered by the registry store.
#include "platform/registry.h"

#include "platform/posix/registry_health.h"
#include "platform/posix/registry_store.h"
#include "platform/posix/store.h"

namespace plat {

namespace posix {

namespace {

StoreTrouble trouble = StoreTrouble::kNone;

}  // namespace

StoreTrouble RegistryStoreTrouble() {
  return trouble;
}

Status WatchRegistryStatus(Status status) {
  switch (status) {
    // The answers of a store that works.
    case kErrorSuccess:
    case kErrorFileNotFound:
    case kErrorMoreData:
    case kErrorInvalidParameter:
    case kErrorInvalidHandle:
    case kErrorBadPathname:
    case kErrorKeyDeleted:
    case kErrorNoAccess:
      break;
    case kErrorBusy:
      if (trouble == StoreTrouble::kNone)
        trouble = StoreTrouble::kBusy;
      break;
    case kErrorBadDb:
    case kErrorDiskFull:
    case kErrorIoDevice:
    case kErrorNotEnoughMemory:
      trouble = StoreTrouble::kUnavailable;
      break;
    default:
      // A refusal is the key's own unless the store refuses everything: a
      // read-only file, or a store that does not open at all.
      if (StoreIsReadOnly() || ConnectStore(nullptr) != kErrorSuccess)
        trouble = StoreTrouble::kUnavailable;
      break;
  }
  return status;
}

}  // namespace posix

Status RegOpenKeyExA(RegKey key, const char* sub_key, std::uint32_t /*options*/,
                     std::uint32_t access, RegKey* result) {
  return posix::WatchRegistryStatus(posix::Store::Instance().OpenKey(key, sub_key, access, result));
}

Status RegCreateKeyExA(RegKey key, const char* sub_key, std::uint32_t /*reserved*/,
                       const char* /*key_class*/, std::uint32_t /*options*/, std::uint32_t access,
                       const void* /*security_attributes*/, RegKey* result,
                       std::uint32_t* disposition) {
  return posix::WatchRegistryStatus(
      posix::Store::Instance().CreateKey(key, sub_key, access, result, disposition));
}

Status RegSetValueExA(RegKey key, const char* value_name, std::uint32_t /*reserved*/,
                      std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  return posix::WatchRegistryStatus(
      posix::Store::Instance().SetValue(key, value_name, type, data, size));
}

Status RegQueryValueExA(RegKey key, const char* value_name, std::uint32_t* reserved,
                        std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  return posix::WatchRegistryStatus(
      posix::Store::Instance().QueryValue(key, value_name, reserved, type, data, size));
}

Status RegDeleteValueA(RegKey key, const char* value_name) {
  return posix::WatchRegistryStatus(posix::Store::Instance().DeleteValue(key, value_name));
}

Status RegFlushKey(RegKey key) {
  return posix::WatchRegistryStatus(posix::Store::Instance().Flush(key));
}

Status RegCloseKey(RegKey key) {
  return posix::WatchRegistryStatus(posix::Store::Instance().Close(key));
}

}  // namespace plat
